#include "cCaptureCycle.h"

#include "cVidCap.h"
#include "mJPEGLib.h"
#include "mNumbers.h"

#include <QPainter>

#include <cmath>
#include <limits>

namespace {

constexpr double kTwipsPerPixel = 15.0;
constexpr double kCaptionLeft = 20.0;
// The colour of the window background the frame is drawn on.
const QColor kSurfaceBackground = Qt::white;

// Runs a step of the cycle; a step that fails is skipped and the next goes on.
template <typename Step>
void Try(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

} // namespace

std::optional<int> CaptureInterval(const QString &sInterval)
{
    bool ok = false;
    const double seconds = NumericValue(sInterval, &ok);
    if (!ok || seconds == 0)
        return 1000;
    const double milliseconds = std::nearbyint(seconds * 1000);
    if (milliseconds < 0 || milliseconds > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(milliseconds);
}

int CaptionOffset(double dFontSize)
{
    switch (int(std::nearbyint(dFontSize))) {
    case 7:
        return 220;
    case 8:
    case 9:
        return 250;
    case 10:
        return 330;
    default:
        return 0;
    }
}

int JpegQuality(int lSlider)
{
    return lSlider == 0 ? 3 : lSlider;
}

QImage ComposePicture(const cDIB &frame, int lWidth, int lHeight, const CaptureSettings &settings)
{
    if (lWidth <= 0 || lHeight <= 0)
        return {};
    QImage surface(lWidth, lHeight, QImage::Format_RGB888);
    if (surface.isNull())
        return {};
    surface.fill(kSurfaceBackground);
    frame.PaintPicture(surface, 0, 0, lWidth, lHeight, 0, 0, settings.bInvert ? SRCINVERT : SRCCOPY);

    bool sizeIsNumber = false;
    const double fontSize = settings.font.FontSize.toDouble(&sizeIsNumber);
    const double y = std::nearbyint(lHeight * kTwipsPerPixel) - (sizeIsNumber ? CaptionOffset(fontSize) : 0);
    double newX = 0, newY = 0;
    const bool hasCaption = !settings.sCaption.isEmpty();
    const QString caption =
        hasCaption ? QLatin1Char(' ') + retImageText(settings.sCaption, settings.clock) + QLatin1Char(' ') : QString();
    Tools().pDrawTextOnImage(caption, kCaptionLeft, y, settings.lForeColor, settings.lBackColor,
                             hasCaption ? settings.bTransparent : true, settings.font, surface, newX, newY);
    return surface;
}

cCaptureCycle::Outcome cCaptureCycle::Run(cVidCap &objCam, const QString &sFolder, const QString &sJpgFile,
                                          const QString &sBmpFile, const CaptureSettings &settings)
{
    if (m_bCapturing)
        return {};
    m_bCapturing = true;
    Outcome outcome;
    outcome.bRan = true;
    const QString bmpPath = sFolder + sBmpFile;

    Try([&] { cCap().capGrabFrame(objCam.CaptureWindowHandle()); });
    // Without the private folder nothing is written or read anywhere else.
    cDIB picImg;
    if (!sFolder.isEmpty()) {
        Try([&] { objCam.GrabbedFrameSave(bmpPath); });
        Try([&] { picImg.CreateFromBitmapFile(bmpPath); });
    }

    const int width = WholeNumberValue(settings.sWidth);
    const int height = WholeNumberValue(settings.sHeight);
    Try([&] { m_cFrame = picImg.Resample(height, width); });
    std::unique_ptr<cDIB> preview;
    Try([&] { preview = picImg.Resample(settings.previewSize.height(), settings.previewSize.width()); });

    QImage composed;
    // A frame that could not be scaled leaves nothing to publish; the old picture stays.
    if (m_cFrame)
        Try([&] { composed = ComposePicture(*m_cFrame, width, height, settings); });
    Try([&] {
        if (composed.isNull() || sFolder.isEmpty())
            return;
        m_cFrame->CreateFromPicture(composed);
        WriteJpegFile(*m_cFrame, sFolder + sJpgFile, JpegQuality(settings.lQuality));
    });
    if (preview)
        outcome.preview = preview->ToImage();
    if (m_cFrame)
        m_cFrame->ClearUp();
    m_bCapturing = false;
    return outcome;
}
