#include "fuzz_profilecommon.h"
#include "profile/rtffit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    // Histories too long for the file are trimmed; the trimmer sees the raw input too.
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype limit = qsizetype(size / 2);
    if (FitRichText(raw, limit).size() > limit)
        fail("trimmed text over its limit");
    put(ProfileStore::MessagesFile, data, size);
    QByteArray mainPane;
    QList<QByteArray> histories;
    if (s.loadMessages(2, mainPane, histories) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    if (histories.size() != 2)
        fail("history count");
    // Texts that already fit come back unchanged; longer ones are trimmed,
    // and the file must load either way.
    bool fits = mainPane.size() <= MaxProfileText;
    for (const QByteArray& h : histories)
        fits = fits && h.size() <= MaxProfileText;
    if (!s.writeMessages(mainPane, histories))
        fail("Messages.cfg not written");
    QByteArray mainBack;
    QList<QByteArray> back;
    if (s.loadMessages(2, mainBack, back) != ProfileStore::LoadOutcome::Loaded)
        fail("written Messages.cfg refused");
    if (fits && (mainBack != mainPane || back != histories))
        fail("Messages.cfg");
    return 0;
}
