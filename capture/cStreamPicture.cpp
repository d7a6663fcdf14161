#include "cStreamPicture.h"

#include "cVidCap.h"
#include "mNumbers.h"

#include <algorithm>

namespace {

// Rows above the caption's top edge drawn with it, for glyphs that reach
// above their line.
constexpr int kCaptionMargin = 4;

unsigned char *RowFromTop(const cDIB &picture, int y)
{
    return picture.DIBSectionBitsPtr() + std::size_t(picture.Height() - 1 - y) * std::size_t(picture.BytesPerScanLine());
}

// Every channel v becomes 255 - v: the frame exclusive-or'ed onto the white surface.
void Invert(cDIB &picture)
{
    unsigned char *bits = picture.DIBSectionBitsPtr();
    const std::size_t size = std::size_t(picture.BytesPerScanLine()) * std::size_t(picture.Height());
    for (std::size_t i = 0; i < size; ++i)
        bits[i] ^= 0xFF;
}

// Copies rows [top, bottom) of the picture to an RGB surface of their own, or back.
void RowsToSurface(const cDIB &picture, int top, QImage &surface)
{
    for (int y = 0; y < surface.height(); ++y) {
        const unsigned char *from = RowFromTop(picture, top + y);
        unsigned char *to = surface.scanLine(y);
        for (int x = 0; x < picture.Width(); ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

void SurfaceToRows(const QImage &surface, int top, cDIB &picture)
{
    for (int y = 0; y < surface.height(); ++y) {
        const unsigned char *from = surface.constScanLine(y);
        unsigned char *to = RowFromTop(picture, top + y);
        for (int x = 0; x < picture.Width(); ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

} // namespace

std::shared_ptr<const QByteArray> cStreamPicture::Next(cVidCap &objCam, const CaptureSettings &settings,
                                                       QString &sError)
{
    const int width = WholeNumberValue(settings.sWidth);
    const int height = WholeNumberValue(settings.sHeight);
    if (!cDIB::SizeAllowed(width, height)) {
        sError = QStringLiteral("the picture to send would be ") + OversizeText(width, height);
        return nullptr;
    }
    if (!objCam.GrabFrame(QSize(width, height)) || !objCam.TakeGrabbedFrame(m_frame)) {
        sError = objCam.LastError();
        return nullptr;
    }
    cDIB *scaled = Scaled(width, height, sError);
    if (!scaled)
        return nullptr;
    cDIB &picture = *scaled;
    if (settings.bInvert)
        Invert(picture);
    Caption(picture, settings);
    QByteArray encoded;
    if (!m_encoder.Encode(picture, JpegQuality(settings.lQuality), encoded, sError))
        return nullptr;
    return std::make_shared<const QByteArray>(std::move(encoded));
}

// The frame at the picture's size: itself when the camera's size (or the
// decoder's scaled size) is the picture's already.
cDIB *cStreamPicture::Scaled(int lWidth, int lHeight, QString &sError)
{
    if (m_frame.Width() == lWidth && m_frame.Height() == lHeight)
        return &m_frame;
    m_scaled = m_frame.Resample(lHeight, lWidth);
    if (!m_scaled || m_scaled->Width() != lWidth) {
        sError = QStringLiteral("no memory for the picture");
        return nullptr;
    }
    return m_scaled.get();
}

// The caption's rows, from a little above its top edge to the bottom, go
// through a surface of their own and back; the rest is never touched.
void cStreamPicture::Caption(cDIB &picture, const CaptureSettings &settings) const
{
    const int top = std::max(0, CaptionTopRow(picture.Height(), settings) - kCaptionMargin);
    if (top >= picture.Height())
        return;
    QImage band(picture.Width(), picture.Height() - top, QImage::Format_RGB888);
    if (band.isNull())
        return;
    RowsToSurface(picture, top, band);
    DrawCaption(band, picture.Height(), top, settings);
    SurfaceToRows(band, top, picture);
}
