#pragma once
// Public interface of the wording library libvorskres.so.
//
// Everything that crosses between the program and the library is a plain type: integers,
// UTF-16 text in buffers the caller owns, and a pixel block the caller owns. A library built
// on its own from this header fits any program built from it.

#include <cstdint>

// Folder kinds taken by cTools::RetSysDir.
enum SysDirEnum {
    LDV_SystemFolder = 0,
    LDV_WindowsFolder = 1,
    LDV_TempFolder = 2,
};

// Result codes of the component interface; negative values are failures.
using VRESULT = std::int32_t;
inline constexpr VRESULT VR_OK = 0;
inline constexpr VRESULT VR_E_NOTIMPL = static_cast<VRESULT>(0x80004001u);
inline constexpr VRESULT VR_E_NOINTERFACE = static_cast<VRESULT>(0x80004002u);
inline constexpr VRESULT VR_E_POINTER = static_cast<VRESULT>(0x80004003u);
inline constexpr VRESULT VR_E_FAIL = static_cast<VRESULT>(0x80004005u);
inline constexpr VRESULT VR_E_OUTOFMEMORY = static_cast<VRESULT>(0x8007000Eu);
inline constexpr VRESULT VR_S_FALSE = 1;
inline constexpr VRESULT VR_CLASS_E_CLASSNOTAVAILABLE = static_cast<VRESULT>(0x80040111u);

struct VorskGuid
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const VorskGuid &, const VorskGuid &) = default;
};

// {F780C899-56CD-4285-8265-B228CAC37838}
inline constexpr VorskGuid CLSID_cResource = {
    0xF780C899, 0x56CD, 0x4285, {0x82, 0x65, 0xB2, 0x28, 0xCA, 0xC3, 0x78, 0x38}};
// {95814411-8C25-4838-9BFB-C472ABE5A8D2}
inline constexpr VorskGuid IID_cResource = {
    0x95814411, 0x8C25, 0x4838, {0x9B, 0xFB, 0xC4, 0x72, 0xAB, 0xE5, 0xA8, 0xD2}};
// {00000000-0000-0000-C000-000000000046}
inline constexpr VorskGuid IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Resource kinds of LoadResPicture2.
inline constexpr std::int16_t vbResBitmap = 0;

// A 24-bit picture: blue, green, red per pixel, bottom row first, each row padded to a
// multiple of 4 bytes (BytesPerScanLine), SizeImage = BytesPerScanLine * Height.
struct VorskPixelBlock
{
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t BitsPerPixel;
    std::int32_t BytesPerScanLine;
    std::int32_t SizeImage;
};

struct cResourceInterface;

// The operations of cResource, after the three of every component object.
struct cResourceVtbl
{
    VRESULT (*QueryInterface)(cResourceInterface *self, const VorskGuid *riid, void **ppv);
    std::uint32_t (*AddRef)(cResourceInterface *self);
    std::uint32_t (*Release)(cResourceInterface *self);

    VRESULT (*put_LangID)(cResourceInterface *self, std::int32_t LangID);
    VRESULT (*get_LangID)(cResourceInterface *self, std::int32_t *pLangID);
    // Writes the text's length in UTF-16 units to *pcchText and, when it fits in cchBuffer
    // units, the text itself (no terminator) to pBuffer. A text that is absent has length 0.
    // A caller whose buffer was too small asks again with one of *pcchText units.
    VRESULT (*Loadresstring)(cResourceInterface *self, std::int32_t ResourceID, char16_t *pBuffer,
                             std::int32_t cchBuffer, std::int32_t *pcchText);
    // Fills *pInfo and, when cbPixels is at least pInfo->SizeImage, copies the pixels to
    // pPixels. A picture that is absent yields *pInfo all zero and VR_S_FALSE.
    VRESULT (*LoadResPicture2)(cResourceInterface *self, std::int16_t id, std::int16_t restype,
                               VorskPixelBlock *pInfo, std::uint8_t *pPixels,
                               std::int32_t cbPixels);
};

struct cResourceInterface
{
    const cResourceVtbl *lpVtbl;
};

// The four entry points of the library. DllGetClassObject hands out a new cResource object
// for CLSID_cResource asked through IID_cResource or IID_IUnknown; the caller releases it.
extern "C" {
using PFN_DllGetClassObject = VRESULT (*)(const VorskGuid *rclsid, const VorskGuid *riid,
                                          void **ppv);
using PFN_DllCanUnloadNow = VRESULT (*)();
using PFN_DllRegisterServer = VRESULT (*)();
using PFN_DllUnregisterServer = VRESULT (*)();
}

// The file name of the library, as installed and as searched for.
inline constexpr const char *VorskResFileName = "libvorskres.so";
