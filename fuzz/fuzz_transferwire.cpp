// A transfer's wire image comes from the peer: whatever the bytes, decoding
// either refuses them or gives a record that encodes to an image which
// decodes to the same record.

#include "fuzz_transfercommon.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzztransfer;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Transfer> t = DecodeTransfer(input);
    if (!t)
        return 0;
    if (t->contactUid.size() > 31 || t->entries || t->contactBound)
        fail("decoded record out of bounds");
    if (!fitsStoredText(t->statusText) || !fitsStoredText(t->senderPath) ||
        !fitsStoredText(t->savedPath))
        return 0;
    const QByteArray image = EncodeTransfer(*t);
    if (image.size() != TransferBlockSize + t->statusText.toUtf8().size() +
                            t->senderPath.toUtf8().size() + t->savedPath.toUtf8().size() + 3)
        fail("image length");
    const std::optional<Transfer> back = DecodeTransfer(image);
    if (!back || !sameRecord(*t, *back))
        fail("wire image");
    return 0;
}
