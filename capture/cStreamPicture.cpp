#include "cStreamPicture.h"

#include "cVidCap.h"
#include "mNumbers.h"

#include <utility>

std::shared_ptr<const QByteArray> cStreamPicture::Next(cVidCap &objCam, const CaptureSettings &settings,
                                                       QString &sError)
{
    const int width = WholeNumberValue(settings.sWidth);
    const int height = WholeNumberValue(settings.sHeight);
    if (!cDIB::SizeAllowed(width, height)) {
        sError = QStringLiteral("the picture to send would be ") + OversizeText(width, height);
        return nullptr;
    }
    // A JPEG frame is decoded to a size that covers the picture turned back.
    if (!objCam.GrabFrame(settings.turn.Turned(QSize(width, height))) || !objCam.TakeGrabbedFrame(m_frame)) {
        sError = objCam.LastError();
        return nullptr;
    }
    m_bFrameHeld = true;
    m_frameTime = settings.clock();
    m_sFrameSource = objCam.CurrentSourceId();
    cDIB *scaled = Scaled(width, height, settings.turn, sError);
    if (!scaled)
        return nullptr;
    if (!ComposePicture(*scaled, settings)) {
        sError = QStringLiteral("no memory for the caption");
        return nullptr;
    }
    QByteArray encoded;
    if (!m_encoder.Encode(*scaled, JpegQuality(settings.lQuality), encoded, sError))
        return nullptr;
    return std::make_shared<const QByteArray>(std::move(encoded));
}

cStreamPicture::Frame cStreamPicture::TakeLastFrame()
{
    if (!std::exchange(m_bFrameHeld, false))
        return {};
    Frame last{std::make_unique<cDIB>(), m_frameTime, m_sFrameSource};
    last.frame->Swap(m_frame);
    return last;
}

// The frame turned and at the picture's size: itself when it needs no turn
// and the camera's size (or the decoder's scaled size) is the picture's already.
cDIB *cStreamPicture::Scaled(int lWidth, int lHeight, FrameTurn turn, QString &sError)
{
    if (turn.IsNone() && m_frame.Width() == lWidth && m_frame.Height() == lHeight)
        return &m_frame;
    m_scaled = m_frame.Resample(lHeight, lWidth, turn);
    if (!m_scaled || m_scaled->Width() != lWidth) {
        sError = QStringLiteral("no memory for the picture");
        return nullptr;
    }
    return m_scaled.get();
}
