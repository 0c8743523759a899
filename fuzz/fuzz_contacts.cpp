#include "fuzz_profilecommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    put(ProfileStore::ContactsFile, data, size);
    QList<Contact> contacts;
    if (s.loadContacts(contacts) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    // Every entry but the last takes at least its image and a list word.
    if (size >= 8 && qsizetype(contacts.size()) > qsizetype(size - 8) / 2140 + 1)
        fail("more contacts than the file can hold");
    for (const Contact& c : contacts) {
        if (c.status != (c.blocked ? StatusBlocked : StatusOffline))
            fail("loaded contact status");
    }
    if (!s.writeContacts(contacts))
        fail("Contacts.cfg not written");
    QList<Contact> back;
    if (s.loadContacts(back) != ProfileStore::LoadOutcome::Loaded || back != contacts)
        fail("Contacts.cfg");
    return 0;
}
