#pragma once

#include "cCycleHealth.h"
#include "cDIB.h"
#include "cTools.h"
#include "mFrameTurn.h"
#include "mCaption.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class cVidCap;

// What one capture cycle reads from the window's controls, taken afresh each time.
struct CaptureSettings
{
    QString sWidth = QStringLiteral("173");   // txtWidth
    QString sHeight = QStringLiteral("127");  // txtHeight
    bool bInvert = false;                      // chkInvertImage
    FrameTurn turn;                            // cboRotate, cboFlip
    bool bTransparent = false;                 // chkTransparent
    QString sCaption;                          // txtOnImage, with time tokens
    std::uint32_t lForeColor = 0xFFFFFF;       // pfg's back colour
    std::uint32_t lBackColor = 0x000000;       // pbg's back colour
    CaptionFont font;                          // pfg's font
    int lQuality = 70;                         // Slider1
    QSize previewSize;                         // pPreview's inner size
    ClockFn clock = QDateTime::currentDateTime;
    // The line shown above the caption while the camera gives no picture,
    // %1 the time of its last one.
    QString sNoPictureText;
};

// The capture timer's interval for the text of txtIntvl: 0 or no number gives
// 1000 ms, otherwise the seconds times 1000, halves to even; nullopt when the
// result is no valid interval (negative or too large), which leaves the timer alone.
std::optional<int> CaptureInterval(const QString &sInterval);

// The caption's distance above the bottom edge, in twips, for a font size:
// the table's for 7 to 10 points, else from the height of its line in pixels.
int CaptionOffset(double dFontSize, double dLineHeight);

// The JPEG quality for the slider's position: 0 becomes 3.
int JpegQuality(int lSlider);

// The pixel row of the caption's top edge in a picture lHeight pixels high.
int CaptionTopRow(int lHeight, const CaptureSettings &settings);

// Composes the picture in place, as the frame drawn on the window's white
// surface would be: inverted (exclusive-or with white) when asked, dimmed to
// half its brightness with a notice, and the caption drawn 20 twips from the
// left at its offset above the bottom edge, the notice on a line of its own
// above it. A caption whose line does not fit the picture is drawn at the
// largest size that does, which sCaptionShrunk then tells. Only the rows the
// text may touch go through a drawing surface. False when there is no
// picture or no memory for that surface.
bool ComposePicture(cDIB &picture, const CaptureSettings &settings, const std::optional<QString> &notice = std::nullopt,
                    QString *sCaptionShrunk = nullptr);

// One run of the capture cycle: grab a frame, turn and scale it, compose it
// and publish it as a JPEG in the folder; the frame turned and scaled for the
// preview comes back.
// While the camera gives no frame, the last frame this run had is published
// dimmed, with a line saying since when there is no picture (a dark picture
// where there never was one): never an old frame under a fresh time. A frame
// that cannot be stored or read back keeps the published picture as it was.
// A step that fails or works again is told in the outcome's events.
class cCaptureCycle
{
public:
    // The preview of the raw frame, when there was one to take, and the
    // failures and recoveries worth a log line. Nothing when the cycle was
    // already running (re-entry) and stepped aside.
    struct Outcome
    {
        bool bRan = false;
        QImage preview;
        std::vector<CycleEvent> events;
        // The bytes just written to the picture file, when it was written:
        // handed to the server, which answers from them; and whether they
        // show a frame of the camera, not the picture saying there is none.
        std::shared_ptr<const QByteArray> published;
        bool bFromCamera = false;
    };

    Outcome Run(cVidCap &objCam, const QString &sFolder, const QString &sJpgFile, const QString &sBmpFile,
                const CaptureSettings &settings);

    bool Capturing() const { return m_bCapturing; }
    // A frame the live stream took from the camera: the grab works (the
    // line saying so, when its failure was told).
    std::vector<CycleEvent> NoteStreamFrame();
    // A frame newer than the last one grabbed, which a picture saying there
    // is none shows dimmed, since when it arrived.
    void KeepFrame(std::unique_ptr<cDIB> frame, const QDateTime &when, const QString &sSource);

private:
    bool TakeFrame(cVidCap &objCam, const QString &sFolder, const QString &sBmpFile, cDIB &picImg, Outcome &outcome);
    void PublishNoPicture(const QString &sJpgPath, const QString &sSource, const CaptureSettings &settings,
                          Outcome &outcome);
    void Publish(const cDIB &picImg, const QString &sJpgPath, const CaptureSettings &settings,
                 const std::optional<QString> &notice, Outcome &outcome);
    void Note(Outcome &outcome, CycleStep step, bool bWorked, const QString &sReason);

    bool m_bCapturing = false;
    cCycleHealth m_health;
    std::unique_ptr<cDIB> m_cFrame = std::make_unique<cDIB>();
    // The last frame this run grabbed, when, and from which source; or,
    // before the first one, since when there has been none. A frame of
    // another source is never shown for the one open now.
    std::unique_ptr<cDIB> m_lastGood;
    QDateTime m_lastGoodTime;
    QString m_sLastGoodSource;
};
