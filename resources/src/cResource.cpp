#include "cResource.h"

#include "mDib.h"
#include "mResourceDir.h"
#include "mStringTable.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

std::atomic<std::uint32_t> g_LiveObjects{0};

struct cResource : cResourceInterface
{
    std::atomic<std::uint32_t> References{1};
    std::int32_t LangID = 0;
};

cResource *Self(cResourceInterface *self)
{
    return static_cast<cResource *>(self);
}

VRESULT QueryInterface(cResourceInterface *self, const VorskGuid *riid, void **ppv)
{
    if (!riid || !ppv)
        return VR_E_POINTER;
    if (*riid != IID_cResource && *riid != IID_IUnknown) {
        *ppv = nullptr;
        return VR_E_NOINTERFACE;
    }
    ++Self(self)->References;
    *ppv = self;
    return VR_OK;
}

std::uint32_t AddRef(cResourceInterface *self)
{
    return ++Self(self)->References;
}

std::uint32_t Release(cResourceInterface *self)
{
    const std::uint32_t left = --Self(self)->References;
    if (left == 0) {
        delete Self(self);
        --g_LiveObjects;
    }
    return left;
}

VRESULT put_LangID(cResourceInterface *self, std::int32_t LangID)
{
    Self(self)->LangID = LangID;
    return VR_OK;
}

VRESULT get_LangID(cResourceInterface *self, std::int32_t *pLangID)
{
    if (!pLangID)
        return VR_E_POINTER;
    *pLangID = Self(self)->LangID;
    return VR_OK;
}

// The table read is always this library's own, so a renamed or relocated library still
// answers with the texts it carries.
std::span<const std::uint8_t> LoadresstringBytes(std::int32_t ResourceID, std::int32_t LangID)
{
    const std::int64_t block = StringBlockOf(ResourceID);
    const std::span<const std::uint8_t> data = FindResourceData(RT_STRING, block, LangID);
    if (data.empty())
        return {};
    return FindStringInBlock(data, block, ResourceID);
}

VRESULT Loadresstring(cResourceInterface *self, std::int32_t ResourceID, char16_t *pBuffer,
                      std::int32_t cchBuffer, std::int32_t *pcchText)
{
    if (!pcchText || cchBuffer < 0 || (cchBuffer > 0 && !pBuffer))
        return VR_E_POINTER;
    const std::span<const std::uint8_t> text = LoadresstringBytes(ResourceID, Self(self)->LangID);
    const auto length = static_cast<std::int32_t>(text.size() / 2);
    *pcchText = length;
    if (length <= cchBuffer) {
        for (std::int32_t i = 0; i < length; ++i)
            pBuffer[i] = static_cast<char16_t>(text[2 * i] | (text[2 * i + 1] << 8));
    }
    return VR_OK;
}

// The picture's language is not chosen: LangID applies to texts only.
VRESULT LoadResPicture2(cResourceInterface *, std::int16_t id, std::int16_t restype,
                        VorskPixelBlock *pInfo, std::uint8_t *pPixels, std::int32_t cbPixels)
{
    if (!pInfo)
        return VR_E_POINTER;
    *pInfo = {};
    if (restype != vbResBitmap)
        return VR_S_FALSE;
    const std::optional<DibLayout> dib = ParseDib24(FindResourceData(RT_BITMAP, id, 0));
    if (!dib)
        return VR_S_FALSE;
    const auto size = static_cast<std::int32_t>(dib->Pixels.size());
    *pInfo = {dib->Width, dib->Height, 24, dib->BytesPerScanLine, size};
    if (pPixels && cbPixels >= size)
        std::memcpy(pPixels, dib->Pixels.data(), dib->Pixels.size());
    return VR_OK;
}

constexpr cResourceVtbl Vtbl = {QueryInterface, AddRef,        Release,        put_LangID,
                                get_LangID,     Loadresstring, LoadResPicture2};

} // namespace

cResourceInterface *CreateResourceObject()
{
    auto *object = new (std::nothrow) cResource;
    if (!object)
        return nullptr;
    object->lpVtbl = &Vtbl;
    ++g_LiveObjects;
    return object;
}

std::uint32_t LiveResourceObjects()
{
    return g_LiveObjects;
}
