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

// Half the brightness: every channel of every pixel halved.
void Dim(QImage &surface)
{
    for (int y = 0; y < surface.height(); ++y) {
        unsigned char *row = surface.scanLine(y);
        for (qsizetype i = 0, n = qsizetype(surface.width()) * 3; i < n; ++i)
            row[i] >>= 1;
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

int CaptionTopRow(int lHeight, const CaptureSettings &settings)
{
    return int(std::floor(CaptionTop(lHeight, settings) / kTwipsPerPixel));
}

double CaptionTop(int lHeight, const CaptureSettings &settings)
{
    bool sizeIsNumber = false;
    const double fontSize = settings.font.FontSize.toDouble(&sizeIsNumber);
    return std::nearbyint(lHeight * kTwipsPerPixel) - (sizeIsNumber ? CaptionOffset(fontSize) : 0);
}

void DrawCaption(QImage &surface, int lHeight, int lFirstRow, const CaptureSettings &settings,
                 const std::optional<QString> &notice)
{
    const double y = CaptionTop(lHeight, settings) - lFirstRow * kTwipsPerPixel;
    double newX = 0, newY = 0;
    const bool hasCaption = !settings.sCaption.isEmpty();
    const QString caption =
        hasCaption ? QLatin1Char(' ') + retImageText(settings.sCaption, settings.clock) + QLatin1Char(' ') : QString();
    Tools().pDrawTextOnImage(caption, kCaptionLeft, y, settings.lForeColor, settings.lBackColor,
                             hasCaption ? settings.bTransparent : true, settings.font, surface, newX, newY);
    if (notice && !notice->isEmpty()) {
        const double lineHeight = newY - y;
        Tools().pDrawTextOnImage(QLatin1Char(' ') + *notice + QLatin1Char(' '), kCaptionLeft, y - lineHeight,
                                 settings.lForeColor, settings.lBackColor, settings.bTransparent, settings.font,
                                 surface, newX, newY);
    }
}

QImage ComposePicture(const cDIB &frame, int lWidth, int lHeight, const CaptureSettings &settings,
                      const std::optional<QString> &notice)
{
    if (lWidth <= 0 || lHeight <= 0)
        return {};
    QImage surface(lWidth, lHeight, QImage::Format_RGB888);
    if (surface.isNull())
        return {};
    surface.fill(kSurfaceBackground);
    frame.PaintPicture(surface, 0, 0, lWidth, lHeight, 0, 0, settings.bInvert ? SRCINVERT : SRCCOPY);
    if (notice)
        Dim(surface);
    DrawCaption(surface, lHeight, 0, settings, notice);
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

    bool grabbed = false;
    Try([&] { grabbed = cCap().capGrabFrame(objCam.CaptureWindowHandle()); });
    Note(outcome, CycleStep::Grab, grabbed, objCam.LastError());
    if (!grabbed) {
        PublishNoPicture(sFolder + sJpgFile, settings, outcome);
    } else if (auto picImg = std::make_unique<cDIB>(); TakeFrame(objCam, sFolder, sBmpFile, *picImg, outcome)) {
        std::unique_ptr<cDIB> preview;
        Try([&] { preview = picImg->Resample(settings.previewSize.height(), settings.previewSize.width()); });
        // The frame is kept, not copied, for the cycles that may find no picture.
        m_lastGood = std::move(picImg);
        m_lastGoodTime = settings.clock();
        Publish(*m_lastGood, sFolder + sJpgFile, settings, std::nullopt, outcome);
        if (preview)
            outcome.preview = preview->ToImage();
    }
    m_cFrame->ClearUp();
    m_bCapturing = false;
    return outcome;
}

// Save the frame grabbed as the bitmap file and load it back into picImg.
// Without the private folder nothing is written or read anywhere else.
bool cCaptureCycle::TakeFrame(cVidCap &objCam, const QString &sFolder, const QString &sBmpFile, cDIB &picImg,
                              Outcome &outcome)
{
    if (sFolder.isEmpty()) {
        Note(outcome, CycleStep::Bitmap, false, QStringLiteral("the private picture folder cannot be used"));
        return false;
    }
    const QString bmpPath = sFolder + sBmpFile;
    bool saved = false, loaded = false;
    QString failure;
    Try([&] {
        saved = objCam.GrabbedFrameSave(bmpPath);
        failure = objCam.LastError();
    });
    if (saved)
        Try([&] { loaded = picImg.CreateFromBitmapFile(bmpPath, &failure); });
    Note(outcome, CycleStep::Bitmap, loaded, bmpPath + QStringLiteral(": ") + failure);
    return loaded;
}

// The last frame dimmed, or a dark picture where there never was one, with
// the line saying since when the camera gives no picture.
void cCaptureCycle::PublishNoPicture(const QString &sJpgPath, const CaptureSettings &settings, Outcome &outcome)
{
    if (!m_lastGoodTime.isValid())
        m_lastGoodTime = settings.clock();
    const QDateTime since = m_lastGoodTime;
    const QString notice = settings.sNoPictureText.isEmpty()
                               ? QString()
                               : settings.sNoPictureText.arg(retTimeStamp([since] { return since; }));
    if (m_lastGood) {
        Publish(*m_lastGood, sJpgPath, settings, notice, outcome);
        return;
    }
    cDIB dark;
    if (dark.Create(1, 1))
        Publish(dark, sJpgPath, settings, notice, outcome);
}

void cCaptureCycle::Publish(const cDIB &picImg, const QString &sJpgPath, const CaptureSettings &settings,
                            const std::optional<QString> &notice, Outcome &outcome)
{
    const int width = WholeNumberValue(settings.sWidth);
    const int height = WholeNumberValue(settings.sHeight);
    if (!cDIB::SizeAllowed(width, height)) {
        Note(outcome, CycleStep::Jpeg, false, QStringLiteral("the picture to send would be ") + OversizeText(width, height));
        return;
    }
    Try([&] { m_cFrame = picImg.Resample(height, width); });
    if (!m_cFrame) {
        m_cFrame = std::make_unique<cDIB>();
        Note(outcome, CycleStep::Jpeg, false, QStringLiteral("no memory for the picture"));
        return;
    }
    QString failure = QStringLiteral("the picture cannot be composed");
    bool written = false;
    QImage composed;
    Try([&] { composed = ComposePicture(*m_cFrame, width, height, settings, notice); });
    Try([&] {
        if (composed.isNull())
            return;
        m_cFrame->CreateFromPicture(composed);
        QByteArray bytes;
        written = WriteJpegFile(*m_cFrame, sJpgPath, JpegQuality(settings.lQuality), &failure, &bytes);
        if (written)
            outcome.published = std::make_shared<const QByteArray>(std::move(bytes));
    });
    Note(outcome, CycleStep::Jpeg, written, sJpgPath + QStringLiteral(": ") + failure);
}

void cCaptureCycle::Note(Outcome &outcome, CycleStep step, bool bWorked, const QString &sReason)
{
    if (auto event = m_health.Note(step, bWorked, sReason, cCycleHealth::Clock::now()))
        outcome.events.push_back(std::move(*event));
}
