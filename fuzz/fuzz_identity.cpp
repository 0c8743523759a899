// A peer's identity arrives in chat and file sessions as any number of bytes.
// Whatever they hold, the decoded identity encodes to a 1600-byte image that
// decodes to the same identity, and copying it into a contact leaves the
// contact's own fields alone.

#include "records/contact.h"
#include "records/identity.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "identity round trip differs: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    Identity peer = DefaultIdentity();
    peer.decode(input);

    const QByteArray image = peer.encode();
    if (image.size() != Identity::Size || image.at(Identity::Size - 1) != '\0' ||
        image.at(Identity::Size - 2) != '\0')
        fail("image size or padding");
    Identity back;
    back.decode(image);
    if (!(back == peer))
        fail("decode of the image");
    // Texts never hold their field's terminating zero.
    if (peer.uid.bytes().size() >= Identity::UidSize || peer.name.bytes().contains('\0') ||
        peer.awayMessage.bytes().size() >= Identity::TextSize)
        fail("text field bounds");

    Contact contact = NewContact();
    contact.alias.set(QByteArrayLiteral("alias"));
    contact.autosave = 1;
    contact.queue = QByteArrayLiteral("queued");
    CopyIdentity(peer, contact);
    if (contact.alias.bytes() != "alias" || contact.autosave != 1 || contact.queue != "queued")
        fail("contact fields");
    (void)StatusText(contact);
    (void)DisplayName(contact);
    return 0;
}
