#include "cJpegDecoder.h"

#include "cDIB.h"

#include <turbojpeg.h>

#include <limits>

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

bool cJpegDecoder::Decode(const unsigned char *pData, std::size_t lSize, cDIB &frame, QString &sError)
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
    // A size over the limits is refused here, before a byte is decoded.
    QString reason;
    if (!frame.Fit(width, height, reason)) {
        sError = QStringLiteral("the camera's frame cannot be taken: ") + reason;
        return false;
    }
    // Any warning (a frame cut short, corrupt data) fails too: TurboJPEG
    // reports it as a failure after filling in what it could.
    if (tjDecompress2(m_hDecoder, bytes, lSize, frame.DIBSectionBitsPtr(), width, frame.BytesPerScanLine(), height,
                      TJPF_BGR, TJFLAG_BOTTOMUP) != 0) {
        sError = QStringLiteral("the camera sent a damaged JPEG frame: %1")
                     .arg(QString::fromUtf8(tjGetErrorStr2(m_hDecoder)));
        Reset();
        return false;
    }
    return true;
}
