#pragma once
// A wording library opened with dlopen for the length of a test, and one object of it.

#include "vorskres.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

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

// The object's text for id, through the caller-buffer protocol with a roomy buffer.
inline std::u16string TextOf(cResourceInterface *object, std::int32_t id)
{
    std::u16string text(1024, u'\0');
    std::int32_t length = -1;
    EXPECT_EQ(object->lpVtbl->Loadresstring(object, id, text.data(), 1024, &length), VR_OK);
    text.resize(static_cast<std::size_t>(length));
    return text;
}
