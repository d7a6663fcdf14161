#pragma once

#include "cCaptureThread.h"
#include "mLivePage.h"
#include "mServerFacts.h"

#include <QString>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class cVidCap;
class cWebServer;
struct Prefs;

// What the window and the headless face both do with their settings and the
// server's news, so neither has a copy of its own.

// The settings of one capture cycle; the image is not inverted and there is
// no preview.
CaptureSettings CaptureSettingsOf(const Prefs &prefs);

// The file names of the published picture and of the grabbed frame, from the
// wording's picture name.
struct PictureFiles
{
    QString sJpgFile;
    QString sBmpFile;
};
PictureFiles PictureFileNames();

// The capture thread of a face, handing every picture written to the server;
// told takes the log lines of the live stream's failures and recoveries.
std::unique_ptr<cCaptureThread> MakeCaptureThread(cVidCap &objCam, cWebServer &server, cCaptureThread::Told told);

// One capture cycle on the capture thread, in the private folder; done runs
// on the caller's thread. Nothing when a cycle is still under way.
void CaptureAndPublish(cCaptureThread &capture, const PictureFiles &files, const CaptureSettings &settings,
                       cCaptureThread::Done done);
// The capture timer takes the interval typed (a text that is no valid
// interval leaves it alone).
void SetCaptureInterval(QTimer &tmr1, const QString &sIntvl);

// Full path of the published picture in the private folder; empty when there
// is no such folder.
QString PicturePath(const QString &sJpgFile);

// The event log's line for a connection accepted or refused from an address.
QString ConnectionLogText(bool bAccepted, const QString &sAddress);

// The event log's line for a capture step that failed or works again.
QString CycleEventText(const CycleEvent &event);

// Since when the camera gives no picture, as the capture cycle's events tell
// it: from its first failed grab until a grab works again.
class cCameraOutage
{
public:
    void Note(const std::vector<CycleEvent> &events, std::time_t now);
    void CannotStart(std::time_t now);
    std::optional<std::time_t> Since() const { return m_since; }

private:
    std::optional<std::time_t> m_since;
};

// What /status.json and /metrics tell of a face: its picture count, the
// camera open and its outage. A pipeline's description is told by its first
// element only, since it may carry an address with a password.
FaceFacts FaceFactsOf(qint64 pictures, const QString &sCameraId, const cCameraOutage &outage);

// The words of the page to watch, in the wording's language.
LiveWords LiveWordsOf();
