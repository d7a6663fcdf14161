#include "mServing.h"

#include "cCommonDialog.h"
#include "cTools.h"
#include "cWebServer.h"
#include "mLanguage.h"
#include "mMain.h"
#include "mSettings.h"
#include "vorskres.h"

#include <QTimer>

namespace {

constexpr int kLastPictureName = 149;
constexpr int kAcceptedText = 147;
constexpr int kRejectedText = 148;
// The log lines of the capture cycle, by step: failed (with the reason), works again.
constexpr int kStepFailedText = 155;
constexpr int kStepWorksText = 158;
constexpr int kNoPictureText = 164;
constexpr int kCaptionShrunkText = 176;
constexpr int kCaptionFitsText = 177;
constexpr int kUptimeText = 110;
constexpr int kCameraLiveText = 181;
constexpr int kNoAnswerText = 182;
const QString kPipelinePrefix = QStringLiteral("gst:");

} // namespace

CaptureSettings CaptureSettingsOf(const Prefs &prefs)
{
    CaptureSettings settings;
    settings.sWidth = prefs.sWidth;
    settings.sHeight = prefs.sHeight;
    settings.bTransparent = prefs.bTransparent;
    settings.turn = prefs.turn;
    settings.sCaption = prefs.sOnImage;
    settings.lForeColor = TranslateColor(prefs.lForeColor);
    settings.lBackColor = TranslateColor(prefs.lBackColor);
    settings.font.szFont = prefs.font.family();
    settings.font.FontSize = QString::number(prefs.font.pointSizeF());
    settings.font.blBold = prefs.font.bold();
    settings.font.FontItalic = prefs.font.italic();
    settings.font.FontStrikethru = prefs.font.strikeOut();
    settings.font.FontUnderline = prefs.font.underline();
    settings.lQuality = prefs.lQuality;
    settings.sNoPictureText = LangString(kNoPictureText);
    return settings;
}

PictureFiles PictureFileNames()
{
    const QString baseName = PictureBaseName(LangString(kLastPictureName));
    return {baseName + QStringLiteral(".jpg"), baseName + QStringLiteral(".bmp")};
}

std::unique_ptr<cCaptureThread> MakeCaptureThread(cVidCap &objCam, cWebServer &server, cCaptureThread::Told told)
{
    cCaptureThread::Outlets outlets;
    outlets.publish = [&server](const auto &picture, bool bFromCamera) { server.PublishPicture(picture, bFromCamera); };
    outlets.publishStream = [&server](const auto &picture) { server.PublishStreamPicture(picture); };
    outlets.watched = [&server] { return server.StreamWatched(); };
    outlets.told = std::move(told);
    return std::make_unique<cCaptureThread>(objCam, std::move(outlets));
}

void CaptureAndPublish(cCaptureThread &capture, const PictureFiles &files, const CaptureSettings &settings,
                       cCaptureThread::Done done)
{
    capture.RunCycle(Tools().RetSysDir(LDV_TempFolder), files.sJpgFile, files.sBmpFile, settings, std::move(done));
}

void SetCaptureInterval(QTimer &tmr1, const QString &sIntvl)
{
    if (const auto interval = CaptureInterval(sIntvl))
        tmr1.setInterval(*interval);
}

QString PicturePath(const QString &sJpgFile)
{
    const QString folder = Tools().RetSysDir(LDV_TempFolder);
    return folder.isEmpty() ? QString() : folder + sJpgFile;
}

QString ConnectionLogText(bool bAccepted, const QString &sAddress)
{
    return LangString(bAccepted ? kAcceptedText : kRejectedText) + QLatin1Char(' ') + sAddress;
}

QString CycleEventText(const CycleEvent &event)
{
    if (event.step == CycleStep::Caption)
        return event.bFailed ? LangString(kCaptionShrunkText).arg(event.sReason) : LangString(kCaptionFitsText);
    const int step = int(event.step);
    return event.bFailed ? LangString(kStepFailedText + step).arg(event.sReason) : LangString(kStepWorksText + step);
}

void cCameraOutage::Note(const std::vector<CycleEvent> &events, std::time_t now)
{
    for (const CycleEvent &event : events)
        if (event.step == CycleStep::Grab)
            m_since = event.bFailed ? m_since.value_or(now) : std::optional<std::time_t>();
}

void cCameraOutage::CannotStart(std::time_t now)
{
    m_since = m_since.value_or(now);
}

FaceFacts FaceFactsOf(qint64 pictures, const QString &sCameraId, const cCameraOutage &outage)
{
    FaceFacts facts;
    facts.sVersion = VersionText(kVersionMajor, kVersionMinor, kVersionRevision);
    facts.pictures = pictures;
    const QString pipeline = sCameraId.mid(kPipelinePrefix.size()).simplified();
    facts.sCameraId =
        sCameraId.startsWith(kPipelinePrefix) ? kPipelinePrefix + pipeline.section(QLatin1Char(' '), 0, 0) : sCameraId;
    facts.cameraGoneSince = outage.Since();
    return facts;
}

LiveWords LiveWordsOf()
{
    return {LangString(kCameraLiveText), LangString(kNoPictureText), LangString(kUptimeText),
            LangString(kNoAnswerText)};
}
