#include "fuzz_profilecommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fuzzprofile;
    ProfileStore& s = store();
    put(ProfileStore::MyInfoFile, data, size);
    Identity own = DefaultIdentity();
    if (s.loadMyInfo(own) != ProfileStore::LoadOutcome::Loaded)
        return 0;
    if (own.status != StatusOnline)
        fail("loaded identity not Online");
    if (!s.writeMyInfo(own))
        fail("MyInfo.cfg not written");
    Identity back;
    if (s.loadMyInfo(back) != ProfileStore::LoadOutcome::Loaded || !(back == own))
        fail("MyInfo.cfg");
    return 0;
}
