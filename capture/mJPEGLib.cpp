#include "mJPEGLib.h"

#include "cDIB.h"
#include "cError.h"
#include "mSafeFile.h"

#include <turbojpeg.h>

#include <memory>

namespace {

const QString kSource = QStringLiteral(".mIntelJPEGLibrary");

// TurboJPEG reports failures without a number of its own.
constexpr int kEncoderFailureCode = -1;

struct JpegBufferDeleter
{
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

// Encodes the picture in place; the encoded bytes belong to the caller
// (tjFree), or the reason why there are none.
QString Compress(tjhandle encoder, const cDIB &oDIB, int lQuality, unsigned char *&encoded, unsigned long &size)
{
    if (!oDIB.DIBSectionBitsPtr())
        return QStringLiteral("there is no picture to write");
    encoded = nullptr;
    size = 0;
    if (tjCompress2(encoder, oDIB.DIBSectionBitsPtr(), oDIB.Width(), oDIB.BytesPerScanLine(), oDIB.Height(),
                    TJPF_BGR, &encoded, &size, TJSAMP_420, lQuality, TJFLAG_BOTTOMUP) != 0)
        return QStringLiteral("the encoder refused the picture: ") + QString::fromUtf8(tjGetErrorStr2(encoder));
    return {};
}

// Why the picture could not be written, or nothing when it was.
QString EncodeAndReplace(tjhandle encoder, const cDIB &oDIB, const QString &sPath, int lQuality, QByteArray *pWritten)
{
    unsigned char *encoded = nullptr;
    unsigned long encodedSize = 0;
    const QString failure = Compress(encoder, oDIB, lQuality, encoded, encodedSize);
    const std::unique_ptr<unsigned char, JpegBufferDeleter> owned(encoded);
    if (!failure.isEmpty())
        return failure;
    if (const int error = ReplaceFileContents(sPath, encoded, encodedSize, true))
        return qt_error_string(error);
    if (pWritten)
        *pWritten = QByteArray(reinterpret_cast<const char *>(encoded), qsizetype(encodedSize));
    return {};
}

} // namespace

bool WriteJpegFile(const cDIB &oDIB, const QString &sPath, int lQuality, QString *psReason, QByteArray *pWritten)
{
    tjhandle encoder = tjInitCompress();
    if (!encoder)
        throw cError(kJpegErrorNumber, kSource,
                     QStringLiteral("Failed to initialise the IJL library: ") + QString::number(kEncoderFailureCode));
    // A failed write is reported by the result alone; the old picture stays.
    const QString failure = EncodeAndReplace(encoder, oDIB, sPath, lQuality, pWritten);
    tjDestroy(encoder);
    if (psReason)
        *psReason = failure;
    return failure.isEmpty();
}

cJpegEncoder::cJpegEncoder() : m_hEncoder(tjInitCompress()) {}

cJpegEncoder::~cJpegEncoder()
{
    if (m_hEncoder)
        tjDestroy(m_hEncoder);
}

bool cJpegEncoder::Encode(const cDIB &oDIB, int lQuality, QByteArray &encoded, QString &sReason)
{
    if (!m_hEncoder) {
        sReason = QStringLiteral("the JPEG encoder cannot be set up");
        return false;
    }
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    sReason = Compress(m_hEncoder, oDIB, lQuality, bytes, size);
    const std::unique_ptr<unsigned char, JpegBufferDeleter> owned(bytes);
    if (!sReason.isEmpty())
        return false;
    encoded = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
    return true;
}
