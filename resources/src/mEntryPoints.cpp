// The four entry points every in-process component library exports.

#include "cResource.h"
#include "mComponentRegistry.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

#define VORSKRES_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// This library's own file, as an absolute path; empty if it cannot be told.
std::string OwnLibraryPath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&OwnLibraryPath), &info) || !info.dli_fname)
        return {};
    std::error_code error;
    const std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::string() : path.string();
}

} // namespace

VORSKRES_EXPORT VRESULT DllGetClassObject(const VorskGuid *rclsid, const VorskGuid *riid,
                                          void **ppv)
{
    if (!rclsid || !riid || !ppv)
        return VR_E_POINTER;
    *ppv = nullptr;
    if (*rclsid != CLSID_cResource)
        return VR_CLASS_E_CLASSNOTAVAILABLE;
    if (*riid != IID_cResource && *riid != IID_IUnknown)
        return VR_E_NOINTERFACE;
    cResourceInterface *object = CreateResourceObject();
    if (!object)
        return VR_E_OUTOFMEMORY;
    *ppv = object;
    return VR_OK;
}

VORSKRES_EXPORT VRESULT DllCanUnloadNow()
{
    return LiveResourceObjects() == 0 ? VR_OK : VR_S_FALSE;
}

VORSKRES_EXPORT VRESULT DllRegisterServer()
{
    const std::string path = OwnLibraryPath();
    return !path.empty() && RegisterComponent(ComponentRegistryFile(), CLSID_cResource, path)
               ? VR_OK
               : VR_E_FAIL;
}

VORSKRES_EXPORT VRESULT DllUnregisterServer()
{
    const std::string path = OwnLibraryPath();
    return !path.empty() && UnregisterComponent(ComponentRegistryFile(), CLSID_cResource, path)
               ? VR_OK
               : VR_E_FAIL;
}
