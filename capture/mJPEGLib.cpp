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

[[noreturn]] void RaiseWriteFailure(int code)
{
    throw cError(kJpegErrorNumber, kSource, QStringLiteral("Failed to save to JPG ") + QString::number(code));
}

struct JpegBufferDeleter
{
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

void EncodeAndReplace(tjhandle encoder, const cDIB &oDIB, const QString &sPath, int lQuality)
{
    unsigned char *encoded = nullptr;
    unsigned long encodedSize = 0;
    const int rc = tjCompress2(encoder, oDIB.DIBSectionBitsPtr(), oDIB.Width(), oDIB.BytesPerScanLine(),
                               oDIB.Height(), TJPF_BGR, &encoded, &encodedSize, TJSAMP_420, lQuality,
                               TJFLAG_BOTTOMUP);
    const std::unique_ptr<unsigned char, JpegBufferDeleter> owned(encoded);
    if (rc != 0)
        RaiseWriteFailure(rc);
    if (const int error = ReplaceFileContents(sPath, encoded, encodedSize, true))
        RaiseWriteFailure(error);
}

} // namespace

bool WriteJpegFile(const cDIB &oDIB, const QString &sPath, int lQuality)
{
    tjhandle encoder = tjInitCompress();
    if (!encoder)
        throw cError(kJpegErrorNumber, kSource,
                     QStringLiteral("Failed to initialise the IJL library: ") + QString::number(kEncoderFailureCode));
    bool written = false;
    try {
        if (!oDIB.DIBSectionBitsPtr())
            RaiseWriteFailure(kEncoderFailureCode);
        EncodeAndReplace(encoder, oDIB, sPath, lQuality);
        written = true;
    } catch (const cError &) {
        // A failed write is reported by the result alone; the old picture stays.
    }
    tjDestroy(encoder);
    return written;
}
