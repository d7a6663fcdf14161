#pragma once

#include "mFrameTurn.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>

// Raster operations of the block transfers.
constexpr std::uint32_t SRCCOPY = 0xCC0020;   // destination = source
constexpr std::uint32_t SRCINVERT = 0x660046; // destination = source xor destination

// The 40-byte description of a 24-bit bitmap, as written in bitmap files.
struct BitmapInfoHeader
{
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0; // positive: rows run bottom-up
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// The program's image buffer: a 24-bit picture whose pixels are addressed
// directly. Three bytes a pixel in the order blue, green, red; row 0 in memory
// is the bottom row; every row is padded to a multiple of 4 bytes.
//
// Coordinates of the block transfers are those of a picture seen on screen,
// (0, 0) at the top left, as with any drawing surface.
class cDIB
{
public:
    cDIB() = default;
    ~cDIB();
    cDIB(const cDIB &) = delete;
    cDIB &operator=(const cDIB &) = delete;

    int Width() const { return m_tBI.biWidth; }
    int Height() const { return m_tBI.biHeight; }
    int BytesPerScanLine() const { return ScanLineBytes(m_tBI.biWidth); }
    std::uintptr_t hdc() const { return m_hDC; }
    std::uintptr_t hDib() const { return reinterpret_cast<std::uintptr_t>(m_pBits.get()); }
    unsigned char *DIBSectionBitsPtr() const { return m_pBits.get(); }

    // lhDC is accepted for the shape of the call; the buffer always lives in memory.
    bool CreateDIB(std::uintptr_t lhDC, int lWidth, int lHeight, std::uintptr_t &hDib);
    bool Create(int lWidth, int lHeight);
    // Holds a block of exactly lWidth x lHeight afterwards: the one it has when
    // the size is the same (its pixels as they are), else a new one. False,
    // with the reason, when the size is refused or there is no memory for it.
    bool Fit(int lWidth, int lHeight, QString &sReason);
    void CreateFromPicture(const QImage &picThis);
    // Reads a bitmap file: a plain 24-bit one straight into the buffer, any
    // other kind through the picture loader. False (and empty, with the reason
    // in psReason) when it cannot.
    bool CreateFromBitmapFile(const QString &sPath, QString *psReason = nullptr);
    // Writes the buffer as a plain 24-bit bitmap file, replacing the file at
    // sPath only once the new one is complete. 0, or the errno of the failure.
    int WriteBitmapFile(const QString &sPath) const;
    void LoadPictureBlt(const QImage &lhDC, int lSrcLeft, int lSrcTop, int lSrcWidth, int lSrcHeight,
                        std::uint32_t eRop = SRCCOPY);
    void LoadPictureBlt(const cDIB &lhDC, int lSrcLeft, int lSrcTop, int lSrcWidth, int lSrcHeight,
                        std::uint32_t eRop = SRCCOPY);
    void PaintPicture(QImage &lhDC, int lDestLeft = 0, int lDestTop = 0, int lDestWidth = -1,
                      int lDestHeight = -1, int lSrcLeft = 0, int lSrcTop = 0,
                      std::uint32_t eRop = SRCCOPY) const;
    // The picture turned as asked and scaled to lNewWidth x lNewHeight in one
    // pass: the same as turning it first and scaling the turned picture.
    std::unique_ptr<cDIB> Resample(int lNewHeight, int lNewWidth, FrameTurn turn = {}) const;
    void ClearUp();
    // Trades pixels and size with another buffer, copying nothing.
    void Swap(cDIB &other) noexcept;
    void RandomiseBits(bool bGray = false);
    bool CopyToClipboard(bool bAsDIB = true) const;

    // The picture as an ordinary top-down image, for showing or saving it.
    QImage ToImage() const;

    static int ScanLineBytes(int lWidth) { return (3 * lWidth + 3) & ~3; }

    // The largest picture any buffer holds: a side as long as JPEG allows, and
    // 64 megapixels in all (192 MB of pixels), whatever the camera or the
    // settings ask for.
    static constexpr int MaxSide = 65500;
    static constexpr std::int64_t MaxPixels = std::int64_t(8192) * 8192;
    static bool SizeAllowed(int lWidth, int lHeight)
    {
        return lWidth > 0 && lHeight > 0 && lWidth <= MaxSide && lHeight <= MaxSide &&
               std::int64_t(lWidth) * lHeight <= MaxPixels;
    }

private:
    unsigned char *Row(int y) const; // y counted from the top
    struct TurnedView;
    TurnedView ViewTurned(FrameTurn turn) const;
    void BilinearResample(cDIB &dest, const TurnedView &view) const;
    void CopyTurned(cDIB &dest, const TurnedView &view) const;

    BitmapInfoHeader m_tBI;
    std::uintptr_t m_hDC = 0;
    std::unique_ptr<unsigned char[]> m_pBits;
};

// Why a size is refused: "W x H pixels, outside the limits ...", for log lines.
QString OversizeText(int lWidth, int lHeight);
