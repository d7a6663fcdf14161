// Stand-ins for a damaged wording library: one whose DllGetClassObject refuses every class
// (BOGUS_REFUSES), one without the entry point at all.

#include "vorskres.h"

#define BOGUS_EXPORT extern "C" __attribute__((visibility("default")))

#if BOGUS_REFUSES
BOGUS_EXPORT VRESULT DllGetClassObject(const VorskGuid *, const VorskGuid *, void **ppv)
{
    if (ppv)
        *ppv = nullptr;
    return VR_CLASS_E_CLASSNOTAVAILABLE;
}
#else
BOGUS_EXPORT int DllMain()
{
    return 0;
}
#endif
