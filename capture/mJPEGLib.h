#pragma once

#include <QByteArray>
#include <QString>

class cDIB;

// Error number of every JPEG writer failure raised to a caller.
constexpr long kJpegErrorNumber = 26001;

// Writes the picture in oDIB as a JPEG file at sPath with the given quality
// factor (1 = smallest file, 100 = best picture), passed to the encoder as it
// is. The pixels are read in place. The previous file at sPath is only
// replaced once the new one is complete, and the new one keeps its permission
// bits and times. Returns true when the file was written. Throws cError
// 26001 when the encoder cannot be set up; any later failure returns false,
// with the reason in psReason. The bytes written go to pWritten when asked for.
bool WriteJpegFile(const cDIB &oDIB, const QString &sPath, int lQuality, QString *psReason = nullptr,
                   QByteArray *pWritten = nullptr);

// An encoder kept for many pictures (the live stream's): each picture is
// encoded in memory, read in place, with the writer's subsampling.
class cJpegEncoder
{
public:
    cJpegEncoder();
    ~cJpegEncoder();
    cJpegEncoder(const cJpegEncoder &) = delete;
    cJpegEncoder &operator=(const cJpegEncoder &) = delete;

    // The JPEG bytes of the picture; false, with the reason, when it cannot.
    bool Encode(const cDIB &oDIB, int lQuality, QByteArray &encoded, QString &sReason);

private:
    void *m_hEncoder;
};
