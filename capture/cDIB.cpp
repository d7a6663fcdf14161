#include "cDIB.h"

#include "mSafeFile.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMessageBox>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The scaler reads four bytes for a three-byte pixel; the last pixel needs one more.
constexpr std::int64_t kReadSlack = 1;

// Where blue, green and red sit within one pixel of a surface, and its size.
struct PixelLayout
{
    int step, b, g, r;
};

constexpr PixelLayout kBGR24{3, 0, 1, 2};

std::optional<PixelLayout> LayoutOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_BGR888:
        return kBGR24;
    case QImage::Format_RGB888:
        return PixelLayout{3, 2, 1, 0};
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
            return PixelLayout{4, 0, 1, 2};
        else
            return PixelLayout{4, 3, 2, 1};
    default:
        return std::nullopt;
    }
}

bool IsKnownRop(std::uint32_t eRop)
{
    return eRop == SRCCOPY || eRop == SRCINVERT;
}

void TransferRow(unsigned char *dest, PixelLayout dl, const unsigned char *src, PixelLayout sl,
                 int count, std::uint32_t eRop)
{
    if (eRop == SRCCOPY && dl.step == 3 && sl.step == 3 && dl.b == sl.b && dl.r == sl.r) {
        std::memcpy(dest, src, std::size_t(count) * 3);
        return;
    }
    for (int i = 0; i < count; ++i, dest += dl.step, src += sl.step) {
        if (eRop == SRCCOPY) {
            dest[dl.b] = src[sl.b];
            dest[dl.g] = src[sl.g];
            dest[dl.r] = src[sl.r];
        } else {
            dest[dl.b] ^= src[sl.b];
            dest[dl.g] ^= src[sl.g];
            dest[dl.r] ^= src[sl.r];
        }
    }
}

// A block transfer between two surfaces: clips the rectangle to both and
// reports whether anything is left to transfer.
struct Blit
{
    int srcX, srcY, destX, destY, width, height;

    bool ClipTo(QSize src, QSize dest)
    {
        ClipAxis(srcX, destX, width, src.width(), dest.width());
        ClipAxis(srcY, destY, height, src.height(), dest.height());
        return width > 0 && height > 0;
    }

    static void ClipAxis(int &s, int &d, int &len, int srcLen, int destLen)
    {
        const int shift = std::max({0, -s, -d});
        s += shift;
        d += shift;
        len -= shift;
        len = std::min({len, srcLen - s, destLen - d});
    }
};

// Positions of the scaler along one axis: whole part and fraction per step.
struct AxisSamples
{
    std::vector<int> whole;
    std::vector<float> fraction;
};

AxisSamples SampleAxis(int sourceLength, int destLength)
{
    const float scale = float(double(sourceLength - 1) / double(destLength));
    AxisSamples axis;
    axis.whole.resize(destLength);
    axis.fraction.resize(destLength);
    for (int i = 0; i < destLength; ++i) {
        const float position = float(double(scale) * i);
        const int whole = int(position);
        axis.whole[i] = whole;
        axis.fraction[i] = float(double(position) - whole);
    }
    return axis;
}

// Where a destination column (or row) samples the source: byte offsets of
// its near and far neighbours, and the far one's weight.
struct LineSample
{
    double fraction;
    std::ptrdiff_t nearOffset, farOffset;
};

std::vector<LineSample> SampleLine(int sourceLength, int destLength, std::ptrdiff_t step)
{
    const AxisSamples axis = SampleAxis(sourceLength, destLength);
    std::vector<LineSample> samples(destLength);
    for (int i = 0; i < destLength; ++i) {
        // A neighbour outside a source one pixel wide has weight 0; reading the
        // last pixel in its place gives the same result.
        const int whole = std::min(axis.whole[i], sourceLength - 1);
        samples[i] = LineSample{axis.fraction[i], whole * step, std::min(whole + 1, sourceLength - 1) * step};
    }
    return samples;
}

// Rows of the destination visited together when it is walked column by column.
constexpr int kStripRows = 16;

// Visits every pixel of a width x height picture, row by row, or column by
// column where that reads the source along its rows: then within strips of
// rows, so that the strip's destination rows stay in the cache, walked
// upwards where that is the way the source's bytes ascend. The order changes
// no pixel's value.
template <typename Visit>
void EveryPixel(bool bRowsFirst, bool bUpwards, int lWidth, int lHeight, Visit visit)
{
    if (bRowsFirst) {
        for (int y = 0; y < lHeight; ++y)
            for (int x = 0; x < lWidth; ++x)
                visit(x, y);
        return;
    }
    for (int top = 0; top < lHeight; top += kStripRows) {
        const int bottom = std::min(lHeight, top + kStripRows);
        for (int x = 0; x < lWidth; ++x) {
            if (bUpwards) {
                for (int y = bottom - 1; y >= top; --y)
                    visit(x, y);
            } else {
                for (int y = top; y < bottom; ++y)
                    visit(x, y);
            }
        }
    }
}

// Adding and taking away 1.5 * 2^52 rounds a double to a whole number, halves to
// even, without a library call. The weights of each step sum to 1, so every
// value stays within 0 ... 255.
constexpr double kRoundingMagic = 6755399441055744.0;

#if defined(__SSE2__)

// Blue and green in one register, red (and the byte after it) in another.
struct PixelLanes
{
    __m128d bg, r;
};

// Reads four bytes for a three-byte pixel: buffers keep slack for the last one.
inline PixelLanes LoadPixel(const unsigned char *pixel)
{
    std::uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    const __m128i zero = _mm_setzero_si128();
    const __m128i ints = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(word)), zero), zero);
    return {_mm_cvtepi32_pd(ints), _mm_cvtepi32_pd(_mm_srli_si128(ints, 8))};
}

inline __m128d Mix(__m128d keep, __m128d a, __m128d fraction, __m128d b)
{
    const __m128d magic = _mm_set1_pd(kRoundingMagic);
    return _mm_sub_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(keep, a), _mm_mul_pd(fraction, b)), magic), magic);
}

// One destination pixel from the four source pixels around it: vertically
// between low and high first, then horizontally between left and right.
inline void InterpolatePixel(const unsigned char *base, const LineSample &row, const LineSample &column,
                             unsigned char *out)
{
    const __m128d vKeep = _mm_set1_pd(1.0 - row.fraction), vFraction = _mm_set1_pd(row.fraction);
    const __m128d hKeep = _mm_set1_pd(1.0 - column.fraction), hFraction = _mm_set1_pd(column.fraction);
    const PixelLanes lowLeft = LoadPixel(base + row.nearOffset + column.nearOffset);
    const PixelLanes highLeft = LoadPixel(base + row.farOffset + column.nearOffset);
    const PixelLanes lowRight = LoadPixel(base + row.nearOffset + column.farOffset);
    const PixelLanes highRight = LoadPixel(base + row.farOffset + column.farOffset);
    const __m128d bg = Mix(hKeep, Mix(vKeep, lowLeft.bg, vFraction, highLeft.bg), hFraction,
                           Mix(vKeep, lowRight.bg, vFraction, highRight.bg));
    const __m128d r = Mix(hKeep, Mix(vKeep, lowLeft.r, vFraction, highLeft.r), hFraction,
                          Mix(vKeep, lowRight.r, vFraction, highRight.r));
    const __m128i zero = _mm_setzero_si128();
    const __m128i ints = _mm_unpacklo_epi64(_mm_cvttpd_epi32(bg), _mm_cvttpd_epi32(r));
    const std::uint32_t packed =
        std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(ints, zero), zero)));
    std::memcpy(out, &packed, 3);
}

#else

inline double Mix(double keep, double a, double fraction, double b)
{
    return ((keep * a + fraction * b) + kRoundingMagic) - kRoundingMagic;
}

inline void InterpolatePixel(const unsigned char *base, const LineSample &row, const LineSample &column,
                             unsigned char *out)
{
    const double yKeep = 1.0 - row.fraction, xKeep = 1.0 - column.fraction;
    const unsigned char *lowLeft = base + row.nearOffset + column.nearOffset;
    const unsigned char *highLeft = base + row.farOffset + column.nearOffset;
    const unsigned char *lowRight = base + row.nearOffset + column.farOffset;
    const unsigned char *highRight = base + row.farOffset + column.farOffset;
    for (int c = 0; c < 3; ++c) {
        const double l = Mix(yKeep, lowLeft[c], row.fraction, highLeft[c]);
        const double r = Mix(yKeep, lowRight[c], row.fraction, highRight[c]);
        out[c] = static_cast<unsigned char>(Mix(xKeep, l, column.fraction, r));
    }
}

#endif

} // namespace

QString OversizeText(int lWidth, int lHeight)
{
    return QStringLiteral("%1 x %2 pixels, outside the limits of a picture (1 to %3 a side, %4 megapixels in all)")
        .arg(lWidth)
        .arg(lHeight)
        .arg(cDIB::MaxSide)
        .arg(cDIB::MaxPixels / (1 << 20));
}

cDIB::~cDIB()
{
    ClearUp();
}

// A size that is refused, or memory that cannot be had, leaves the buffer as
// it was: its size always describes the block it holds.
bool cDIB::CreateDIB(std::uintptr_t, int lWidth, int lHeight, std::uintptr_t &hDib)
{
    hDib = 0;
    if (!SizeAllowed(lWidth, lHeight))
        return false;
    const std::int64_t size = std::int64_t(ScanLineBytes(lWidth)) * lHeight;
    std::unique_ptr<unsigned char[]> bits(new (std::nothrow) unsigned char[size + kReadSlack]());
    if (!bits)
        return false;
    m_tBI = BitmapInfoHeader{};
    m_tBI.biWidth = lWidth;
    m_tBI.biHeight = lHeight;
    m_tBI.biSizeImage = std::uint32_t(size);
    m_pBits = std::move(bits);
    hDib = this->hDib();
    return true;
}

void cDIB::Swap(cDIB &other) noexcept
{
    std::swap(m_tBI, other.m_tBI);
    std::swap(m_pBits, other.m_pBits);
    m_hDC = m_pBits ? reinterpret_cast<std::uintptr_t>(this) : 0;
    other.m_hDC = other.m_pBits ? reinterpret_cast<std::uintptr_t>(&other) : 0;
}

bool cDIB::Create(int lWidth, int lHeight)
{
    ClearUp();
    std::uintptr_t hDibCreated = 0;
    if (!CreateDIB(0, lWidth, lHeight, hDibCreated)) {
        ClearUp();
        return false;
    }
    m_hDC = reinterpret_cast<std::uintptr_t>(this);
    return true;
}

bool cDIB::Fit(int lWidth, int lHeight, QString &sReason)
{
    if (m_pBits && Width() == lWidth && Height() == lHeight)
        return true;
    if (!SizeAllowed(lWidth, lHeight)) {
        sReason = OversizeText(lWidth, lHeight);
        return false;
    }
    if (Create(lWidth, lHeight))
        return true;
    sReason = QStringLiteral("no memory for %1 x %2 pixels").arg(lWidth).arg(lHeight);
    return false;
}

void cDIB::CreateFromPicture(const QImage &picThis)
{
    if (Create(picThis.width(), picThis.height()))
        LoadPictureBlt(picThis, 0, 0, -1, -1, SRCCOPY);
}

namespace {

std::uint32_t Read32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// A bitmap file's own 14-byte header and the 40-byte description.
constexpr std::uint32_t kBitmapHeaderBytes = 54;
constexpr std::uint32_t kPixelsPerMeterAt96Dpi = 3780;
// A bitmap of another kind is read whole: no larger than the largest plain one.
constexpr qint64 kMaxOtherBitmapBytes = kBitmapHeaderBytes + 4 * cDIB::MaxPixels;

// Where the rows of a plain bitmap file start, the kind the camera writes:
// "BM", a 40-byte (or longer) header, one plane, 24 bits, no compression,
// rows bottom-up.
std::optional<std::uint32_t> PlainBitmapOffset(const unsigned char *header, int &width, int &height)
{
    const std::uint32_t offset = Read32(header + 10);
    width = std::int32_t(Read32(header + 18));
    height = std::int32_t(Read32(header + 22));
    const bool plain = header[0] == 'B' && header[1] == 'M' && Read32(header + 14) >= 40 && header[26] == 1 &&
                       header[27] == 0 && header[28] == 24 && header[29] == 0 && Read32(header + 30) == 0 &&
                       width > 0 && height > 0 && offset >= kBitmapHeaderBytes;
    return plain ? std::optional(offset) : std::nullopt;
}

} // namespace

bool cDIB::CreateFromBitmapFile(const QString &sPath, QString *psReason)
{
    ClearUp();
    auto refuse = [&](const QString &sReason) {
        ClearUp();
        if (psReason)
            *psReason = sReason;
        return false;
    };
    // Only a plain file of this user's own is read: never a link another user
    // planted, never a pipe that would hold the program.
    const int fd = OpenOwnFile(sPath);
    if (fd < 0)
        return refuse(qt_error_string(errno));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return refuse(file.errorString());
    }
    unsigned char header[kBitmapHeaderBytes];
    int width = 0, height = 0;
    std::optional<std::uint32_t> offset;
    if (file.read(reinterpret_cast<char *>(header), sizeof header) == qint64(sizeof header))
        offset = PlainBitmapOffset(header, width, height);
    if (!offset) {
        // Another kind of bitmap, through the picture loader, from the file already open.
        if (file.size() <= kMaxOtherBitmapBytes && file.seek(0))
            CreateFromPicture(QImage::fromData(file.readAll(), "BMP"));
        return m_pBits ? true : refuse(QStringLiteral("not a bitmap file"));
    }
    if (!SizeAllowed(width, height))
        return refuse(OversizeText(width, height));
    const qint64 size = qint64(ScanLineBytes(width)) * height;
    if (qint64(*offset) + size > file.size())
        return refuse(QStringLiteral("the file is cut short"));
    if (!Create(width, height))
        return refuse(QStringLiteral("out of memory"));
    if (!file.seek(*offset) || file.read(reinterpret_cast<char *>(m_pBits.get()), size) != size)
        return refuse(file.errorString());
    return true;
}

int cDIB::WriteBitmapFile(const QString &sPath) const
{
    if (!m_pBits)
        return EINVAL;
    unsigned char header[kBitmapHeaderBytes] = {'B', 'M'};
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put32(2, kBitmapHeaderBytes + m_tBI.biSizeImage);
    put32(10, kBitmapHeaderBytes);
    put32(14, m_tBI.biSize);
    put32(18, std::uint32_t(Width()));
    put32(22, std::uint32_t(Height()));
    header[26] = 1;  // planes
    header[28] = 24; // bits per pixel
    put32(34, m_tBI.biSizeImage);
    put32(38, kPixelsPerMeterAt96Dpi);
    put32(42, kPixelsPerMeterAt96Dpi);
    return ReplaceFileContents(sPath, {{header, sizeof header}, {m_pBits.get(), m_tBI.biSizeImage}}, false);
}

void cDIB::LoadPictureBlt(const QImage &lhDC, int lSrcLeft, int lSrcTop, int lSrcWidth,
                          int lSrcHeight, std::uint32_t eRop)
{
    if (!m_pBits || lhDC.isNull() || !IsKnownRop(eRop))
        return;
    auto layout = LayoutOf(lhDC.format());
    const QImage source = layout ? lhDC : lhDC.convertToFormat(QImage::Format_RGB32);
    layout = LayoutOf(source.format());

    Blit blit{lSrcLeft, lSrcTop, 0, 0, lSrcWidth < 0 ? Width() : lSrcWidth,
              lSrcHeight < 0 ? Height() : lSrcHeight};
    if (!blit.ClipTo(source.size(), QSize(Width(), Height())))
        return;
    for (int y = 0; y < blit.height; ++y)
        TransferRow(Row(blit.destY + y) + 3 * blit.destX, kBGR24,
                    source.constScanLine(blit.srcY + y) + layout->step * blit.srcX, *layout,
                    blit.width, eRop);
}

void cDIB::LoadPictureBlt(const cDIB &lhDC, int lSrcLeft, int lSrcTop, int lSrcWidth,
                          int lSrcHeight, std::uint32_t eRop)
{
    if (!m_pBits || !lhDC.m_pBits || !IsKnownRop(eRop))
        return;
    Blit blit{lSrcLeft, lSrcTop, 0, 0, lSrcWidth < 0 ? Width() : lSrcWidth,
              lSrcHeight < 0 ? Height() : lSrcHeight};
    if (!blit.ClipTo(QSize(lhDC.Width(), lhDC.Height()), QSize(Width(), Height())))
        return;
    for (int y = 0; y < blit.height; ++y)
        TransferRow(Row(blit.destY + y) + 3 * blit.destX, kBGR24,
                    lhDC.Row(blit.srcY + y) + 3 * blit.srcX, kBGR24, blit.width, eRop);
}

void cDIB::PaintPicture(QImage &lhDC, int lDestLeft, int lDestTop, int lDestWidth,
                        int lDestHeight, int lSrcLeft, int lSrcTop, std::uint32_t eRop) const
{
    if (!m_pBits || lhDC.isNull() || !IsKnownRop(eRop))
        return;
    if (!LayoutOf(lhDC.format())) {
        const QImage::Format original = lhDC.format();
        QImage surface = lhDC.convertToFormat(QImage::Format_RGB32);
        PaintPicture(surface, lDestLeft, lDestTop, lDestWidth, lDestHeight, lSrcLeft, lSrcTop, eRop);
        lhDC = surface.convertToFormat(original);
        return;
    }
    const PixelLayout layout = *LayoutOf(lhDC.format());
    Blit blit{lSrcLeft, lSrcTop, lDestLeft, lDestTop, lDestWidth < 0 ? Width() : lDestWidth,
              lDestHeight < 0 ? Height() : lDestHeight};
    if (!blit.ClipTo(QSize(Width(), Height()), lhDC.size()))
        return;
    for (int y = 0; y < blit.height; ++y)
        TransferRow(lhDC.scanLine(blit.destY + y) + layout.step * blit.destX, layout,
                    Row(blit.srcY + y) + 3 * blit.srcX, kBGR24, blit.width, eRop);
}

// The turned picture as seen through the source's pixels: the byte offset
// of its pixel (0, 0) and the steps to the next column and the next storage
// row (row 0 at the bottom, as in every buffer).
struct cDIB::TurnedView
{
    int width, height;
    std::ptrdiff_t origin, columnStep, rowStep;

    // The source is read along its rows when the view's rows lie along them.
    bool RowsAlongMemory() const { return std::abs(columnStep) < std::abs(rowStep); }
};

cDIB::TurnedView cDIB::ViewTurned(FrameTurn turn) const
{
    const int w0 = Width(), h0 = Height();
    const QSize turned = turn.Turned(QSize(w0, h0));
    const int w1 = turned.width(), h1 = turned.height();
    // Where the turned picture's pixel (u, v), counted from its top left,
    // lies in the source: mirroring undone first, then the rotation.
    auto offset = [&](std::ptrdiff_t u, std::ptrdiff_t t) {
        std::ptrdiff_t v = h1 - 1 - t;
        if (turn.eFlip == Flip::Horizontal)
            u = w1 - 1 - u;
        if (turn.eFlip == Flip::Vertical)
            v = h1 - 1 - v;
        std::ptrdiff_t x = u, y = v;
        if (turn.lRotate == 90) {
            x = v;
            y = h0 - 1 - u;
        } else if (turn.lRotate == 180) {
            x = w0 - 1 - u;
            y = h0 - 1 - v;
        } else if (turn.lRotate == 270) {
            x = w0 - 1 - v;
            y = u;
        }
        return (h0 - 1 - y) * std::ptrdiff_t(BytesPerScanLine()) + 3 * x;
    };
    const std::ptrdiff_t origin = offset(0, 0);
    return {w1, h1, origin, offset(1, 0) - origin, offset(0, 1) - origin};
}

std::unique_ptr<cDIB> cDIB::Resample(int lNewHeight, int lNewWidth, FrameTurn turn) const
{
    // An empty buffer has nothing to scale: no picture, never a black one.
    if (!m_pBits)
        return nullptr;
    auto result = std::make_unique<cDIB>();
    if (!result->Create(lNewWidth, lNewHeight))
        return nullptr;
    const TurnedView view = ViewTurned(turn);
    const bool sameSize = lNewWidth == view.width && lNewHeight == view.height;
    if (sameSize && turn.IsNone())
        result->LoadPictureBlt(*this, 0, 0, -1, -1, SRCCOPY);
    else if (sameSize)
        CopyTurned(*result, view);
    else
        BilinearResample(*result, view);
    return result;
}

// Bilinear scaling, worked out exactly as the program has always done it:
// single-precision scale factors and positions over the divisors W1 and H1,
// vertical then horizontal interpolation, each step rounded half to even.
// Rows are storage rows (row 0 at the bottom). A turned picture is read
// through its view.
void cDIB::BilinearResample(cDIB &dest, const TurnedView &view) const
{
    if (!m_pBits || !dest.m_pBits)
        return;
    const std::vector<LineSample> columns = SampleLine(view.width, dest.Width(), view.columnStep);
    const std::vector<LineSample> rows = SampleLine(view.height, dest.Height(), view.rowStep);
    const unsigned char *base = m_pBits.get() + view.origin;
    unsigned char *out = dest.m_pBits.get();
    const std::size_t pitch = std::size_t(dest.BytesPerScanLine());
    EveryPixel(view.RowsAlongMemory(), view.rowStep < 0, dest.Width(), dest.Height(), [&](int x, int y) {
        InterpolatePixel(base, rows[std::size_t(y)], columns[std::size_t(x)], out + y * pitch + 3 * std::size_t(x));
    });
}

// The turned picture at its own size: every pixel copied through the view,
// along the source's rows (by strips of destination rows where those cross
// them), with nothing but two pointers moved per pixel.
void cDIB::CopyTurned(cDIB &dest, const TurnedView &view) const
{
    const unsigned char *base = m_pBits.get() + view.origin;
    unsigned char *out = dest.m_pBits.get();
    const std::ptrdiff_t pitch = dest.BytesPerScanLine();
    const int width = dest.Width(), height = dest.Height();
    if (view.RowsAlongMemory()) {
        for (int y = 0; y < height; ++y) {
            const unsigned char *from = base + y * view.rowStep;
            unsigned char *to = out + y * pitch;
            for (int x = 0; x < width; ++x, from += view.columnStep, to += 3)
                std::memcpy(to, from, 3);
        }
        return;
    }
    // Each strip's rows are walked the way the source's bytes ascend.
    const bool upwards = view.rowStep < 0;
    const std::ptrdiff_t fromStep = upwards ? -view.rowStep : view.rowStep;
    const std::ptrdiff_t toStep = upwards ? -pitch : pitch;
    for (int top = 0; top < height; top += kStripRows) {
        const int rows = std::min(height - top, kStripRows);
        const int first = upwards ? top + rows - 1 : top;
        for (int x = 0; x < width; ++x) {
            const unsigned char *from = base + first * view.rowStep + x * view.columnStep;
            unsigned char *to = out + first * pitch + 3 * x;
            for (int y = 0; y < rows; ++y, from += fromStep, to += toStep)
                std::memcpy(to, from, 3);
        }
    }
}

void cDIB::ClearUp()
{
    m_pBits.reset();
    m_hDC = 0;
}

void cDIB::RandomiseBits(bool bGray)
{
    if (!m_pBits)
        return;
    std::mt19937 generator(static_cast<std::uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    auto next = [&] { return static_cast<unsigned char>(std::nearbyint(uniform(generator) * 255)); };
    for (int y = 0; y < Height(); ++y) {
        unsigned char *pixel = Row(y);
        for (int x = 0; x < Width(); ++x, pixel += 3) {
            if (bGray) {
                pixel[0] = pixel[1] = pixel[2] = next();
            } else {
                pixel[0] = 0;
                pixel[1] = next();
                pixel[2] = next();
            }
        }
    }
}

bool cDIB::CopyToClipboard(bool bAsDIB) const
{
    if (bAsDIB) {
        QMessageBox::information(
            nullptr, QApplication::applicationName(),
            QStringLiteral("I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"),
            QMessageBox::Ok);
        return false;
    }
    if (!m_pBits || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(ToImage());
    return !clipboard->image().isNull();
}

QImage cDIB::ToImage() const
{
    if (!m_pBits)
        return {};
    QImage image(Width(), Height(), QImage::Format_BGR888);
    for (int y = 0; y < Height(); ++y)
        std::memcpy(image.scanLine(y), Row(y), std::size_t(Width()) * 3);
    return image;
}

unsigned char *cDIB::Row(int y) const
{
    return m_pBits.get() + std::size_t(Height() - 1 - y) * BytesPerScanLine();
}
