#include "cResourceLibrary.h"

#include "cError.h"
#include "cLibraryFile.h"
#include "mComponentRegistry.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace {

// What a text or a picture of a sound library can measure; anything beyond is refused.
constexpr std::int32_t MaxTextLength = 0xFFFF;
constexpr std::int32_t MaxPictureSide = 4096;

struct Loaded
{
    std::unique_ptr<cLibraryFile> file;
    void *hLibrary = nullptr;
    cResourceInterface *pObject = nullptr;
};

// Loads one library and asks it for the class; the reason in *why when that fails.
Loaded OpenOne(const QString &sPath, QString *why)
{
    auto file = std::make_unique<cLibraryFile>(sPath);
    void *hLibrary = file->Load(why);
    if (!hLibrary)
        return {};
    const auto getClassObject =
        reinterpret_cast<PFN_DllGetClassObject>(dlsym(hLibrary, "DllGetClassObject"));
    void *pObject = nullptr;
    const VRESULT hr = getClassObject
                           ? getClassObject(&CLSID_cResource, &IID_cResource, &pObject)
                           : VR_E_NOTIMPL;
    if (hr < 0 || !pObject) {
        *why = getClassObject
                   ? QStringLiteral("the class cResource is not available (error 0x%1)")
                         .arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0'))
                   : QStringLiteral("not a component library (no DllGetClassObject)");
        dlclose(hLibrary);
        return {};
    }
    return {std::move(file), hLibrary, static_cast<cResourceInterface *>(pObject)};
}

bool IsPlausible(const VorskPixelBlock &info)
{
    return info.BitsPerPixel == 24 && info.Width > 0 && info.Width <= MaxPictureSide
           && info.Height > 0 && info.Height <= MaxPictureSide
           && info.BytesPerScanLine == ((info.Width * 3 + 3) & ~3)
           && info.SizeImage == info.BytesPerScanLine * info.Height;
}

// A bottom-up blue-green-red pixel block as an image.
QImage ImageFromBlock(const VorskPixelBlock &info, const std::vector<std::uint8_t> &pixels)
{
    QImage image(info.Width, info.Height, QImage::Format_BGR888);
    for (int y = 0; y < info.Height; ++y) {
        const std::uint8_t *row =
            pixels.data() + std::size_t(info.Height - 1 - y) * std::size_t(info.BytesPerScanLine);
        std::copy(row, row + 3 * info.Width, image.scanLine(y));
    }
    return image;
}

} // namespace

std::unique_ptr<cResourceLibrary> cResourceLibrary::Open(const QStringList &candidates)
{
    QStringList failures;
    for (const QString &sPath : candidates) {
        QString why;
        Loaded loaded = OpenOne(sPath, &why);
        if (loaded.pObject)
            return std::unique_ptr<cResourceLibrary>(new cResourceLibrary(
                std::move(loaded.file), loaded.hLibrary, loaded.pObject, sPath));
        failures << sPath + QStringLiteral(": ") + why;
    }
    throw cError(429, QStringLiteral(".mLanguage"),
                 QStringLiteral("Cannot create the object cResource of %1:\n%2")
                     .arg(QLatin1String(VorskResFileName), failures.join(QLatin1Char('\n'))));
}

cResourceLibrary::cResourceLibrary(std::unique_ptr<cLibraryFile> file, void *hLibrary,
                                   cResourceInterface *pObject, const QString &sPath)
    : m_file(std::move(file)), m_hLibrary(hLibrary), m_pObject(pObject), m_sPath(sPath)
{
}

// The library is closed only when it says no object of it is left.
cResourceLibrary::~cResourceLibrary()
{
    m_pObject->lpVtbl->Release(m_pObject);
    const auto canUnloadNow =
        reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(m_hLibrary, "DllCanUnloadNow"));
    if (canUnloadNow && canUnloadNow() == VR_OK)
        dlclose(m_hLibrary);
}

qint32 cResourceLibrary::LangID() const
{
    std::int32_t lLangID = 0;
    return m_pObject->lpVtbl->get_LangID(m_pObject, &lLangID) < 0 ? 0 : lLangID;
}

void cResourceLibrary::SetLangID(qint32 lLangID)
{
    m_pObject->lpVtbl->put_LangID(m_pObject, lLangID);
}

QString cResourceLibrary::Loadresstring(qint32 ResourceID) const
{
    std::vector<char16_t> buffer(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::int32_t length = -1;
        const auto capacity = static_cast<std::int32_t>(buffer.size());
        if (m_pObject->lpVtbl->Loadresstring(m_pObject, ResourceID, buffer.data(), capacity,
                                              &length) < 0
            || length < 0 || length > MaxTextLength)
            return {};
        if (length <= capacity)
            return QString::fromUtf16(buffer.data(), length);
        buffer.resize(std::size_t(length));
    }
    return {};
}

QImage cResourceLibrary::LoadResPicture2(qint16 id, qint16 restype) const
{
    VorskPixelBlock info{};
    if (m_pObject->lpVtbl->LoadResPicture2(m_pObject, id, restype, &info, nullptr, 0) != VR_OK
        || !IsPlausible(info))
        return {};
    std::vector<std::uint8_t> pixels(std::size_t(info.SizeImage));
    VorskPixelBlock filled{};
    if (m_pObject->lpVtbl->LoadResPicture2(m_pObject, id, restype, &filled, pixels.data(),
                                           info.SizeImage) != VR_OK
        || std::memcmp(&filled, &info, sizeof info) != 0)
        return {};
    return ImageFromBlock(info, pixels);
}

QStringList ResourceLibraryCandidates(const QString &sExecutableDir)
{
    QStringList candidates;
    const std::string registered = LookupComponent(ComponentRegistryFile(), CLSID_cResource);
    if (registered.starts_with('/'))
        candidates << QFile::decodeName(registered.c_str());
    const QDir executableDir(sExecutableDir);
    const QString fileName = QLatin1String(VorskResFileName);
    candidates << executableDir.filePath(fileName);
    const QString installedDir =
        executableDir.filePath(QStringLiteral(VORSK_INSTALLED_LIBRARY_DIR));
    candidates << QDir::cleanPath(installedDir + QLatin1Char('/') + fileName);
    candidates.removeDuplicates();
    return candidates;
}
