#pragma once

#include "cJpegDecoder.h"

#include <QString>

#include <gst/gst.h>
#include <gst/video/video.h>

class cDIB;

// Turns one frame of the camera into an upright 24-bit image buffer: JPEG
// frames (MJPEG cameras) through TurboJPEG, raw frames of any format
// GStreamer knows through a converter kept while the format stays the same.
// Both write into the buffer directly, bottom row first.
class cFrameReader
{
public:
    cFrameReader() = default;
    ~cFrameReader();
    cFrameReader(const cFrameReader &) = delete;
    cFrameReader &operator=(const cFrameReader &) = delete;

    // True when frame holds the whole picture of sample; otherwise the reason
    // is in sError and frame holds no usable picture. A JPEG frame is decoded
    // straight to a smaller size that still covers atLeast, where it can be.
    bool Read(GstSample *sample, cDIB &frame, QString &sError, QSize atLeast = {});

private:
    bool ReadJpeg(GstBuffer *buffer, cDIB &frame, QString &sError, QSize atLeast);
    bool ReadRaw(GstBuffer *buffer, const GstVideoInfo &in, cDIB &frame, QString &sError);
    bool KeepConverterFor(const GstVideoInfo &in, const GstVideoInfo &out);

    cJpegDecoder m_jpeg;
    GstVideoConverter *m_converter = nullptr;
    GstVideoInfo m_converterInput{};
    GstVideoInfo m_converterOutput{};
};
