#include "fuzz_profilecommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    put(ProfileStore::QueMsgsFile, data, size);
    QList<Contact> contacts = twoContacts();
    if (s.loadQueMsgs(contacts) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    bool fits = true;
    for (const Contact& c : contacts)
        fits = fits && c.queue.size() <= MaxProfileText;
    if (!s.writeQueMsgs(contacts))
        fail("QueMsgs.cfg not written");
    QList<Contact> back = twoContacts();
    if (s.loadQueMsgs(back) != ProfileStore::LoadOutcome::Loaded)
        fail("written QueMsgs.cfg refused");
    if (fits && back != contacts)
        fail("QueMsgs.cfg");
    return 0;
}
