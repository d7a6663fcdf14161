#include "LoadedLibrary.h"
#include "mComponentRegistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

struct Object
{
    explicit Object(const LoadedLibrary &library)
    {
        EXPECT_EQ(library.GetClassObject(CLSID_cResource, IID_cResource, &pv), VR_OK);
    }
    ~Object()
    {
        if (pv)
            get()->lpVtbl->Release(get());
    }
    cResourceInterface *get() const { return static_cast<cResourceInterface *>(pv); }
    void *pv = nullptr;
};

// Points the per-user registry at a temporary folder for one test.
class TemporaryConfig
{
public:
    TemporaryConfig() { qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()); }
    ~TemporaryConfig() { qunsetenv("XDG_CONFIG_HOME"); }
    std::filesystem::path File() const { return ComponentRegistryFile(); }

private:
    QTemporaryDir m_dir;
};

std::string Canonical(const char *path)
{
    return std::filesystem::canonical(path).string();
}

} // namespace

TEST(Library, ClassIsFoundOnlyByItsIdentifiers)
{
    const LoadedLibrary library(VORSKRES_EN_LIBRARY);
    const auto canUnloadNow = library.Entry<PFN_DllCanUnloadNow>("DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), VR_OK);

    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(library.GetClassObject(IID_cResource, IID_cResource, &pv),
              VR_CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(library.GetClassObject(CLSID_cResource, CLSID_cResource, &pv), VR_E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    const auto getClassObject = library.Entry<PFN_DllGetClassObject>("DllGetClassObject");
    EXPECT_EQ(getClassObject(nullptr, &IID_cResource, &pv), VR_E_POINTER);
    EXPECT_EQ(getClassObject(&CLSID_cResource, &IID_cResource, nullptr), VR_E_POINTER);

    // An object keeps the library in use until its last reference goes.
    ASSERT_EQ(library.GetClassObject(CLSID_cResource, IID_IUnknown, &pv), VR_OK);
    auto *object = static_cast<cResourceInterface *>(pv);
    EXPECT_EQ(canUnloadNow(), VR_S_FALSE);
    void *again = nullptr;
    EXPECT_EQ(object->lpVtbl->QueryInterface(object, &IID_cResource, &again), VR_OK);
    EXPECT_EQ(again, pv);
    EXPECT_EQ(object->lpVtbl->QueryInterface(object, &CLSID_cResource, &again), VR_E_NOINTERFACE);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(object->lpVtbl->Release(object), 1u);
    EXPECT_EQ(canUnloadNow(), VR_S_FALSE);
    EXPECT_EQ(object->lpVtbl->Release(object), 0u);
    EXPECT_EQ(canUnloadNow(), VR_OK);
}

TEST(Library, TextsTravelThroughBuffersOfAnySize)
{
    const LoadedLibrary library(VORSKRES_EN_LIBRARY);
    const Object object(library);
    cResourceInterface *o = object.get();
    ASSERT_NE(o, nullptr);

    std::int32_t length = -1;
    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, nullptr, 0, &length), VR_OK);
    EXPECT_EQ(length, 24);
    std::u16string small(5, u'#');
    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, small.data(), 5, &length), VR_OK);
    EXPECT_EQ(length, 24);
    EXPECT_EQ(small, u"#####");
    std::u16string exact(24, u'#');
    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, exact.data(), 24, &length), VR_OK);
    EXPECT_EQ(exact, u"Show Vorsk Server Window");

    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, nullptr, 10, &length), VR_E_POINTER);
    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, exact.data(), -1, &length), VR_E_POINTER);
    EXPECT_EQ(o->lpVtbl->Loadresstring(o, 153, exact.data(), 24, nullptr), VR_E_POINTER);
}

TEST(Library, LogoIsBitmap101)
{
    const LoadedLibrary library(VORSKRES_EN_LIBRARY);
    const Object object(library);
    cResourceInterface *o = object.get();
    ASSERT_NE(o, nullptr);

    VorskPixelBlock info{};
    ASSERT_EQ(o->lpVtbl->LoadResPicture2(o, 101, vbResBitmap, &info, nullptr, 0), VR_OK);
    EXPECT_EQ(info.Width, 309);
    EXPECT_EQ(info.Height, 75);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(info.BytesPerScanLine, 928);
    ASSERT_EQ(info.SizeImage, 928 * 75);

    QFile bmp(QStringLiteral(VORSK_LOGO_BMP));
    ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
    const QByteArray expected = bmp.readAll().mid(54);
    std::vector<std::uint8_t> pixels(std::size_t(info.SizeImage), 0);
    o->lpVtbl->put_LangID(o, 1033); // The picture's language is not chosen.
    ASSERT_EQ(o->lpVtbl->LoadResPicture2(o, 101, vbResBitmap, &info, pixels.data(), info.SizeImage),
              VR_OK);
    EXPECT_EQ(pixels, std::vector<std::uint8_t>(expected.begin(), expected.end()));

    for (auto [id, kind] : {std::pair<std::int16_t, std::int16_t>{101, 1}, {102, 0}, {-1, 0}}) {
        EXPECT_EQ(o->lpVtbl->LoadResPicture2(o, id, kind, &info, nullptr, 0), VR_S_FALSE);
        EXPECT_EQ(info.Width, 0);
        EXPECT_EQ(info.SizeImage, 0);
    }
    EXPECT_EQ(o->lpVtbl->LoadResPicture2(o, 101, 0, nullptr, nullptr, 0), VR_E_POINTER);
}

TEST(Library, RegistrationRecordsAndRemovesTheLibrarysOwnPath)
{
    const TemporaryConfig config;
    const LoadedLibrary english(VORSKRES_EN_LIBRARY);
    const LoadedLibrary swedish(VORSKRES_SV_LIBRARY);
    const auto registerEnglish = english.Entry<PFN_DllRegisterServer>("DllRegisterServer");
    const auto unregisterEnglish = english.Entry<PFN_DllUnregisterServer>("DllUnregisterServer");
    const auto registerSwedish = swedish.Entry<PFN_DllRegisterServer>("DllRegisterServer");
    const auto unregisterSwedish = swedish.Entry<PFN_DllUnregisterServer>("DllUnregisterServer");
    ASSERT_TRUE(registerEnglish && unregisterEnglish && registerSwedish && unregisterSwedish);

    ASSERT_EQ(registerEnglish(), VR_OK);
    EXPECT_EQ(LookupComponent(config.File(), CLSID_cResource), Canonical(VORSKRES_EN_LIBRARY));
    ASSERT_EQ(registerSwedish(), VR_OK);
    EXPECT_EQ(LookupComponent(config.File(), CLSID_cResource), Canonical(VORSKRES_SV_LIBRARY));

    // Unregistering a library that is not the registered one leaves the entry alone.
    EXPECT_EQ(unregisterEnglish(), VR_OK);
    EXPECT_EQ(LookupComponent(config.File(), CLSID_cResource), Canonical(VORSKRES_SV_LIBRARY));
    EXPECT_EQ(unregisterSwedish(), VR_OK);
    EXPECT_EQ(LookupComponent(config.File(), CLSID_cResource), "");

    // Without a config folder there is nowhere to register.
    const QByteArray home = qgetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    EXPECT_EQ(registerEnglish(), VR_E_FAIL);
    qputenv("HOME", home);
}
