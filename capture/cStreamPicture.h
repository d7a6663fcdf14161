#pragma once

#include "cCaptureCycle.h"
#include "cDIB.h"
#include "mJPEGLib.h"

#include <QByteArray>
#include <memory>

class cVidCap;

// The pictures of the live stream: the camera's next frame turned, scaled,
// inverted and captioned as a snapshot is, and encoded in memory once for every
// viewer. No file is written. The work is done once and in place: a JPEG
// frame is decoded straight to the smallest size TurboJPEG gives that covers
// the picture, the frame is taken from the camera without a copy, and only
// the rows of the caption go through a drawing surface.
class cStreamPicture
{
public:
    // The JPEG bytes of the next frame's picture; null when the camera gave
    // no frame or the picture cannot be made (the reason in sError).
    std::shared_ptr<const QByteArray> Next(cVidCap &objCam, const CaptureSettings &settings, QString &sError);
    // The camera's frame of the last picture made, when it arrived and from
    // which source; nothing once handed over (or before the first picture).
    struct Frame
    {
        std::unique_ptr<cDIB> frame;
        QDateTime when;
        QString sSource;
    };
    Frame TakeLastFrame();

private:
    cDIB *Scaled(int lWidth, int lHeight, FrameTurn turn, QString &sError);

    cDIB m_frame;
    bool m_bFrameHeld = false;
    QDateTime m_frameTime;
    QString m_sFrameSource;
    std::unique_ptr<cDIB> m_scaled;
    cJpegEncoder m_encoder;
};
