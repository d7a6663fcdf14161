#pragma once

#include "cDIB.h"
#include "cTools.h"
#include "mCaption.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

class cVidCap;

// What one capture cycle reads from the window's controls, taken afresh each time.
struct CaptureSettings
{
    QString sWidth = QStringLiteral("173");   // txtWidth
    QString sHeight = QStringLiteral("127");  // txtHeight
    bool bInvert = false;                      // chkInvertImage
    bool bTransparent = false;                 // chkTransparent
    QString sCaption;                          // txtOnImage, with time tokens
    std::uint32_t lForeColor = 0xFFFFFF;       // pfg's back colour
    std::uint32_t lBackColor = 0x000000;       // pbg's back colour
    CaptionFont font;                          // pfg's font
    int lQuality = 70;                         // Slider1
    QSize previewSize;                         // pPreview's inner size
    ClockFn clock = QDateTime::currentDateTime;
};

// The capture timer's interval for the text of txtIntvl: 0 or no number gives
// 1000 ms, otherwise the seconds times 1000, halves to even; nullopt when the
// result is no valid interval (negative or too large), which leaves the timer alone.
std::optional<int> CaptureInterval(const QString &sInterval);

// The caption's distance above the bottom edge, in twips, for a font size.
int CaptionOffset(double dFontSize);

// The JPEG quality for the slider's position: 0 becomes 3.
int JpegQuality(int lSlider);

// The composed picture: the frame (copied, or exclusive-or'ed onto the white
// surface when inverting) and the caption 20 twips from the left, its offset
// above the bottom edge.
QImage ComposePicture(const cDIB &frame, int lWidth, int lHeight, const CaptureSettings &settings);

// One run of the capture cycle: grab a frame, scale it, compose it and publish
// it as a JPEG in the folder; the raw frame scaled for the preview comes back.
class cCaptureCycle
{
public:
    // The preview of the raw frame, when there was one to take. Nothing when
    // the cycle was already running (re-entry) and stepped aside.
    struct Outcome
    {
        bool bRan = false;
        QImage preview;
    };

    Outcome Run(cVidCap &objCam, const QString &sFolder, const QString &sJpgFile, const QString &sBmpFile,
                const CaptureSettings &settings);

    bool Capturing() const { return m_bCapturing; }

private:
    bool m_bCapturing = false;
    std::unique_ptr<cDIB> m_cFrame = std::make_unique<cDIB>();
};
