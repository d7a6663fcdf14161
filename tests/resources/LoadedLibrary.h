#pragma once
// A wording library opened with dlopen for the length of a test, and one object of it.

#include "vorskres.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

class LoadedLibrary
{
public:
    explicit LoadedLibrary(const char *path) : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        EXPECT_NE(m_handle, nullptr) << dlerror();
    }
    ~LoadedLibrary()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    template<typename Function>
    Function Entry(const char *name) const
    {
        return reinterpret_cast<Function>(dlsym(m_handle, name));
    }

    VRESULT GetClassObject(const VorskGuid &clsid, const VorskGuid &iid, void **ppv) const
    {
        return Entry<PFN_DllGetClassObject>("DllGetClassObject")(&clsid, &iid, ppv);
    }

private:
    void *m_handle;
};
