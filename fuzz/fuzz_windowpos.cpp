#include "fuzz_profilecommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    put(ProfileStore::WindowPosFile, data, size);
    WindowPositions windows;
    QList<Contact> contacts = twoContacts();
    if (s.loadWindowPos(windows, contacts) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    if (qsizetype(windows.transferColumnWidths.size()) > qsizetype(size / 4))
        fail("more column widths than the file holds");
    // Geometry from a damaged file must not overflow when used.
    for (const Contact& c : contacts)
        (void)c.chatWindowRect.toQRect();
    (void)windows.mainWindow.toQRect();
    if (!s.writeWindowPos(windows, contacts))
        fail("WindowPos.cfg not written");
    WindowPositions back;
    QList<Contact> backContacts = twoContacts();
    if (s.loadWindowPos(back, backContacts) != ProfileStore::LoadOutcome::Loaded ||
        !(back == windows) || backContacts != contacts)
        fail("WindowPos.cfg");
    return 0;
}
