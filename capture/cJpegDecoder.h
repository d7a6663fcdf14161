#pragma once

#include <QSize>
#include <QString>
#include <cstddef>

class cDIB;

// Decodes the JPEG frames of MJPEG cameras straight into an image buffer,
// upright and in its own row layout, with no copy in between. A frame that is
// cut short, corrupt or larger than any buffer may hold is refused before the
// buffer is touched where that can be seen from its header, else the buffer
// is left holding a partial picture and the call fails.
class cJpegDecoder
{
public:
    cJpegDecoder();
    ~cJpegDecoder();
    cJpegDecoder(const cJpegDecoder &) = delete;
    cJpegDecoder &operator=(const cJpegDecoder &) = delete;

    // True when frame now holds the whole picture; otherwise the reason is in
    // sError. With atLeast, the picture is decoded straight to the smallest
    // size TurboJPEG scales to (1/8 steps) that still covers it.
    bool Decode(const unsigned char *pData, std::size_t lSize, cDIB &frame, QString &sError, QSize atLeast = {});

private:
    void Reset();

    void *m_hDecoder;
};
