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

// Why the picture could not be written, or nothing when it was.
QString EncodeAndReplace(tjhandle encoder, const cDIB &oDIB, const QString &sPath, int lQuality, QByteArray *pWritten)
{
    if (!oDIB.DIBSectionBitsPtr())
        return QStringLiteral("there is no picture to write");
    unsigned char *encoded = nullptr;
    unsigned long encodedSize = 0;
    const int rc = tjCompress2(encoder, oDIB.DIBSectionBitsPtr(), oDIB.Width(), oDIB.BytesPerScanLine(),
                               oDIB.Height(), TJPF_BGR, &encoded, &encodedSize, TJSAMP_420, lQuality,
                               TJFLAG_BOTTOMUP);
    const std::unique_ptr<unsigned char, JpegBufferDeleter> owned(encoded);
    if (rc != 0)
        return QStringLiteral("the encoder refused the picture: ") + QString::fromUtf8(tjGetErrorStr2(encoder));
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
