#include "cJpegDecoder.h"

#include "cDIB.h"

#include <turbojpeg.h>

#include <limits>

namespace {

// The frame marker of a JPEG stream: 0xC0 (baseline) to 0xCF, or 0 when
// the stream has none before its first scan.
int FrameMarker(const unsigned char *pData, std::size_t lSize)
{
    if (lSize < 4 || pData[0] != 0xFF || pData[1] != 0xD8)
        return 0;
    for (std::size_t at = 2; at + 4 <= lSize;) {
        if (pData[at] != 0xFF)
            return 0;
        const int marker = pData[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame)
            return marker;
        if (marker == 0xDA || marker == 0xD9)
            return 0;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length follows
            at += 2;
            continue;
        }
        at += 2 + (std::size_t(pData[at + 2]) << 8 | pData[at + 3]);
    }
    return 0;
}

// Webcams send baseline or extended sequential frames, decoded in one pass.
// A progressive frame may hold thousands of scans, each a pass over the
// whole picture: one such frame could hold the program for a minute.
bool Sequential(int lFrameMarker)
{
    return lFrameMarker == 0xC0 || lFrameMarker == 0xC1;
}

// The smallest scaled size of a width x height picture that covers atLeast;
// the whole size when none does or nothing smaller is asked for.
QSize ScaledSize(int width, int height, QSize atLeast)
{
    QSize best(width, height);
    if (atLeast.isEmpty())
        return best;
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; factors && i < count; ++i) {
        const QSize scaled(TJSCALED(width, factors[i]), TJSCALED(height, factors[i]));
        if (scaled.width() >= atLeast.width() && scaled.height() >= atLeast.height() &&
            qint64(scaled.width()) * scaled.height() < qint64(best.width()) * best.height())
            best = scaled;
    }
    return best;
}

} // namespace

cJpegDecoder::cJpegDecoder() : m_hDecoder(tjInitDecompress()) {}

cJpegDecoder::~cJpegDecoder()
{
    if (m_hDecoder)
        tjDestroy(m_hDecoder);
}

// TurboJPEG leaves a decoder that met an error half way through a header, and
// the next frame fails on that state: a failure starts a fresh decoder.
void cJpegDecoder::Reset()
{
    if (m_hDecoder)
        tjDestroy(m_hDecoder);
    m_hDecoder = tjInitDecompress();
}

bool cJpegDecoder::Decode(const unsigned char *pData, std::size_t lSize, cDIB &frame, QString &sError, QSize atLeast)
{
    if (!m_hDecoder) {
        sError = QStringLiteral("the JPEG decoder cannot be set up");
        return false;
    }
    if (!pData || lSize == 0 || lSize > std::numeric_limits<unsigned long>::max()) {
        sError = QStringLiteral("the camera sent an empty frame");
        return false;
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    // TurboJPEG's older interface takes the bytes as writable; it only reads them.
    auto *bytes = const_cast<unsigned char *>(pData);
    if (tjDecompressHeader3(m_hDecoder, bytes, lSize, &width, &height, &subsampling, &colourspace) != 0) {
        sError = QStringLiteral("the camera sent a frame that is no JPEG picture: %1")
                     .arg(QString::fromUtf8(tjGetErrorStr2(m_hDecoder)));
        Reset();
        return false;
    }
    if (!Sequential(FrameMarker(pData, lSize))) {
        sError = QStringLiteral("the camera sent a damaged JPEG frame: only baseline and sequential JPEG is taken");
        return false;
    }
    // A size over the limits is refused here, before a byte is decoded,
    // whatever size it would be decoded to.
    const QSize size = ScaledSize(width, height, atLeast);
    QString reason;
    if (!cDIB::SizeAllowed(width, height) || !frame.Fit(size.width(), size.height(), reason)) {
        if (reason.isEmpty())
            reason = OversizeText(width, height);
        sError = QStringLiteral("the camera's frame cannot be taken: ") + reason;
        return false;
    }
    // Any warning (a frame cut short, corrupt data) fails too: TurboJPEG
    // reports it as a failure after filling in what it could.
    if (tjDecompress2(m_hDecoder, bytes, lSize, frame.DIBSectionBitsPtr(), size.width(), frame.BytesPerScanLine(),
                      size.height(), TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS) != 0) {
        sError = QStringLiteral("the camera sent a damaged JPEG frame: %1")
                     .arg(QString::fromUtf8(tjGetErrorStr2(m_hDecoder)));
        Reset();
        return false;
    }
    return true;
}
