#include "fuzz_profilecommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    put(ProfileStore::SettingsFile, data, size);
    Settings settings = defaultSettings();
    if (s.loadSettings(settings) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    if (settings.autosaveDir.size() > MaxProfileText)
        return 0;
    if (!s.writeSettings(settings))
        fail("Settings.cfg not written");
    Settings back = defaultSettings();
    if (s.loadSettings(back) != ProfileStore::LoadOutcome::Loaded || !(back == settings))
        fail("Settings.cfg");
    return 0;
}
