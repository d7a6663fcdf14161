#include "cCaptureCycle.h"

#include "cVidCap.h"
#include "mJPEGLib.h"
#include "mNumbers.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {

constexpr double kTwipsPerPixel = 15.0;
constexpr double kCaptionLeft = 20.0;
constexpr int kDotsPerMeter96 = 3780;
// Below a caption whose size the offset table does not hold, in pixels (the
// table's 10 points leave as much below their line).
constexpr double kCaptionRoomBelow = 6.0;
// As the settings take a font size.
constexpr double kLargestCaptionSize = 1638;

// Runs a step of the cycle; a step that fails is skipped and the next goes on.
template <typename Step>
void Try(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

// Rows above the caption's top edge drawn with it, for glyphs that reach
// above their line.
constexpr int kCaptionMargin = 4;

unsigned char *RowFromTop(const cDIB &picture, int y)
{
    return picture.DIBSectionBitsPtr() + std::size_t(picture.Height() - 1 - y) * std::size_t(picture.BytesPerScanLine());
}

// Every byte of the picture through f: whole rows, padding and all.
template <typename F>
void EveryByte(cDIB &picture, F f)
{
    unsigned char *bits = picture.DIBSectionBitsPtr();
    const std::size_t size = std::size_t(picture.BytesPerScanLine()) * std::size_t(picture.Height());
    for (std::size_t i = 0; i < size; ++i)
        bits[i] = f(bits[i]);
}

// The picture's rows from top on, to an RGB surface of the same width, or back.
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

// The height of a line of the caption in pixels at 96 dots per inch, as
// pDrawTextOnImage draws it, for a font of dPointSize.
double LineHeight(const CaptionFont &font, double dPointSize)
{
    QImage probe(1, 1, QImage::Format_RGB888);
    probe.setDotsPerMeterX(kDotsPerMeter96);
    probe.setDotsPerMeterY(kDotsPerMeter96);
    return QFontMetricsF(font.QtFont(dPointSize), &probe).height();
}

// The caption's font for a picture lHeight pixels high, with the top of its
// line in twips: the size written where its line fits the picture, else the
// largest whole size that does (said in sShrunk).
struct CaptionFit
{
    CaptionFont font;
    double top = 0;
    QString sShrunk;
};

CaptionFit FitCaption(int lHeight, const CaptureSettings &settings)
{
    CaptionFit fit;
    fit.font = settings.font;
    const double bottom = std::nearbyint(lHeight * kTwipsPerPixel);
    bool sizeIsNumber = false;
    double size = fit.font.FontSize.toDouble(&sizeIsNumber);
    if (!sizeIsNumber || size <= 0 || size > kLargestCaptionSize) {
        fit.top = bottom;
        return fit;
    }
    auto offset = [&](double points) { return CaptionOffset(points, LineHeight(fit.font, points)); };
    int lOffset = offset(size);
    if (lOffset > bottom) {
        const double written = size;
        size = std::max(1.0, std::floor(size * bottom / lOffset));
        while (size > 1 && offset(size) > bottom)
            --size;
        lOffset = offset(size);
        fit.font.FontSize = QString::number(size);
        fit.sShrunk = QStringLiteral("its font size %1 does not fit a picture %2 pixels high; it is drawn at %3")
                          .arg(written)
                          .arg(lHeight)
                          .arg(size);
    }
    fit.top = bottom - lOffset;
    return fit;
}

// The caption 20 twips from the left at its offset above the bottom edge of
// a picture lHeight pixels high, onto a surface that holds that picture's
// rows from lFirstRow on; a notice goes on a line of its own above.
void DrawCaption(QImage &surface, const CaptionFit &fit, int lFirstRow, const CaptureSettings &settings,
                 const std::optional<QString> &notice)
{
    const double y = fit.top - lFirstRow * kTwipsPerPixel;
    double newX = 0, newY = 0;
    const bool hasCaption = !settings.sCaption.isEmpty();
    const QString caption =
        hasCaption ? QLatin1Char(' ') + retImageText(settings.sCaption, settings.clock) + QLatin1Char(' ') : QString();
    Tools().pDrawTextOnImage(caption, kCaptionLeft, y, settings.lForeColor, settings.lBackColor,
                             hasCaption ? settings.bTransparent : true, fit.font, surface, newX, newY);
    if (notice && !notice->isEmpty()) {
        const double lineHeight = newY - y;
        Tools().pDrawTextOnImage(QLatin1Char(' ') + *notice + QLatin1Char(' '), kCaptionLeft, y - lineHeight,
                                 settings.lForeColor, settings.lBackColor, settings.bTransparent, fit.font,
                                 surface, newX, newY);
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

int CaptionOffset(double dFontSize, double dLineHeight)
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
        // As the table's sizes sit: the line with room below it.
        return int(std::ceil(dLineHeight + kCaptionRoomBelow) * kTwipsPerPixel);
    }
}

int JpegQuality(int lSlider)
{
    return lSlider == 0 ? 3 : lSlider;
}

int CaptionTopRow(int lHeight, const CaptureSettings &settings)
{
    return int(std::floor(FitCaption(lHeight, settings).top / kTwipsPerPixel));
}

bool ComposePicture(cDIB &picture, const CaptureSettings &settings, const std::optional<QString> &notice,
                    QString *sCaptionShrunk)
{
    const int height = picture.Height();
    if (!picture.DIBSectionBitsPtr() || height <= 0)
        return false;
    if (settings.bInvert)
        EveryByte(picture, [](unsigned char v) { return static_cast<unsigned char>(v ^ 0xFF); });
    if (notice)
        EveryByte(picture, [](unsigned char v) { return static_cast<unsigned char>(v >> 1); });
    const CaptionFit fit = FitCaption(height, settings);
    if (sCaptionShrunk)
        *sCaptionShrunk = settings.sCaption.isEmpty() ? QString() : fit.sShrunk;
    // The notice's line lies above the caption by a line of the font: its
    // surface starts at the top; the caption's alone a little above its edge.
    const int top = notice ? 0 : std::max(0, int(std::floor(fit.top / kTwipsPerPixel)) - kCaptionMargin);
    if (top >= height)
        return true;
    QImage surface(picture.Width(), height - top, QImage::Format_RGB888);
    if (surface.isNull())
        return false;
    RowsToSurface(picture, top, surface);
    DrawCaption(surface, fit, top, settings, notice);
    SurfaceToRows(surface, top, picture);
    return true;
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
        PublishNoPicture(sFolder + sJpgFile, objCam.CurrentSourceId(), settings, outcome);
    } else if (auto picImg = std::make_unique<cDIB>(); TakeFrame(objCam, sFolder, sBmpFile, *picImg, outcome)) {
        std::unique_ptr<cDIB> preview;
        const QSize previewSize = settings.previewSize;
        Try([&] { preview = picImg->Resample(previewSize.height(), previewSize.width(), settings.turn); });
        // The frame is kept, not copied, for the cycles that may find no picture.
        m_lastGood = std::move(picImg);
        m_lastGoodTime = settings.clock();
        m_sLastGoodSource = objCam.CurrentSourceId();
        Publish(*m_lastGood, sFolder + sJpgFile, settings, std::nullopt, outcome);
        outcome.bFromCamera = bool(outcome.published);
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
// the line saying since when the camera gives no picture, the time written as
// the caption of a first start writes it.
void cCaptureCycle::PublishNoPicture(const QString &sJpgPath, const QString &sSource, const CaptureSettings &settings,
                                     Outcome &outcome)
{
    if (sSource != m_sLastGoodSource || !m_lastGoodTime.isValid()) {
        m_lastGood.reset();
        m_lastGoodTime = settings.clock();
        m_sLastGoodSource = sSource;
    }
    const QDateTime since = m_lastGoodTime;
    const QString notice = settings.sNoPictureText.isEmpty()
                               ? QString()
                               : settings.sNoPictureText.arg(retImageText(kDefaultCaption, [since] { return since; }));
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
    Try([&] { m_cFrame = picImg.Resample(height, width, settings.turn); });
    if (!m_cFrame) {
        m_cFrame = std::make_unique<cDIB>();
        Note(outcome, CycleStep::Jpeg, false, QStringLiteral("no memory for the picture"));
        return;
    }
    QString failure = QStringLiteral("the picture cannot be composed");
    QString shrunk;
    bool written = false, composed = false;
    Try([&] { composed = ComposePicture(*m_cFrame, settings, notice, &shrunk); });
    if (composed)
        Note(outcome, CycleStep::Caption, shrunk.isEmpty(), shrunk);
    Try([&] {
        if (!composed)
            return;
        QByteArray bytes;
        written = WriteJpegFile(*m_cFrame, sJpgPath, JpegQuality(settings.lQuality), &failure, &bytes);
        if (written)
            outcome.published = std::make_shared<const QByteArray>(std::move(bytes));
    });
    Note(outcome, CycleStep::Jpeg, written, sJpgPath + QStringLiteral(": ") + failure);
}

std::vector<CycleEvent> cCaptureCycle::NoteStreamFrame()
{
    Outcome outcome;
    Note(outcome, CycleStep::Grab, true, QString());
    return std::move(outcome.events);
}

void cCaptureCycle::KeepFrame(std::unique_ptr<cDIB> frame, const QDateTime &when, const QString &sSource)
{
    if (!frame || (m_lastGood && sSource == m_sLastGoodSource && when <= m_lastGoodTime))
        return;
    m_lastGood = std::move(frame);
    m_lastGoodTime = when;
    m_sLastGoodSource = sSource;
}

void cCaptureCycle::Note(Outcome &outcome, CycleStep step, bool bWorked, const QString &sReason)
{
    if (auto event = m_health.Note(step, bWorked, sReason, cCycleHealth::Clock::now()))
        outcome.events.push_back(std::move(*event));
}
