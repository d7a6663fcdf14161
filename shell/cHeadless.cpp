#include "cHeadless.h"

#include "cVidCap.h"
#include "cWebServer.h"
#include "mLanguage.h"
#include "mMain.h"
#include "mServing.h"
#include "mSettingsStore.h"
#include "mSocketActivation.h"
#include "mStatusPage.h"
#include "mUptime.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>

namespace {

// The window's timers as they are made: the capture timer runs from the start.
constexpr int kFirstCaptureMs = 4000;
constexpr int kHousekeepingMs = 1000;
// What follows a line folded under a flood: how many more like it came.
constexpr int kFoldedText = 173;

QTimer *MakeTimer(QObject *parent, int interval)
{
    auto *timer = new QTimer(parent);
    timer->setInterval(interval);
    return timer;
}

void PrintError(const QString &sText)
{
    std::fprintf(stderr, "vorsk: %s\n", qPrintable(sText));
    std::fflush(stderr);
}

constexpr int kLogFileFailedText = 200;

// The window's caption font before the settings are read.
QFont DesignFont()
{
    QFont font(IsClassicStyle() ? QStringLiteral("MS Sans Serif") : QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    return font;
}

} // namespace

cHeadless::cHeadless(QObject *parent)
    : QObject(parent),
      m_logFile(cLogFile::PathFor(NamedSettingsFile()),
                [](const QString &sPath, const QString &sReason) {
                    PrintError(LangString(kLogFileFailedText).arg(sPath, sReason));
                }),
      m_fold([this](const QString &sLine) { Log(sLine); }, LangString(kFoldedText), ServerMilliseconds),
      tmr1(MakeTimer(this, kFirstCaptureMs)), tmrUptime(MakeTimer(this, kHousekeepingMs)),
      tmtTimeout(MakeTimer(this, kHousekeepingMs)), tmrCamera(MakeTimer(this, kHousekeepingMs)),
      objCam(new cVidCap(this))
{
    connect(tmr1, &QTimer::timeout, this, &cHeadless::tmr1_Timer);
    connect(tmrUptime, &QTimer::timeout, this, &cHeadless::tmrUptime_Timer);
    connect(tmrCamera, &QTimer::timeout, this, &cHeadless::tmrCamera_Timer);
    CreateServer();
    m_capture = MakeCaptureThread(*objCam, *m_server, [this](const std::vector<CycleEvent> &events) {
        TellCycleEvents(events);
    });
}

cHeadless::~cHeadless() = default;

void cHeadless::CreateServer()
{
    ServerWindow window;
    window.txtMaxCon = [this] { return m_prefs.sMaxCon; };
    window.txtPort = [this] { return m_prefs.sPort; };
    window.listenAddress = [this] { return m_sListen; };
    window.chkUptime = [this] { return m_prefs.bUptime; };
    window.chkHeaders = [this] { return m_prefs.bHeaders; };
    window.txtIntvl = [this] { return m_prefs.sIntvl; };
    window.txtPassword = [this] { return m_prefs.sPassword; };
    window.picturePath = [this] { return PicturePath(m_files.sJpgFile); };
    window.retUptimePage = [this] {
        return retUptimePage(kVersionMajor, kVersionMinor, kVersionRevision, m_sUptime,
                             QString::number(m_lPictures));
    };
    window.faceFacts = [this] { return FaceFactsOf(m_lPictures, objCam->CurrentSourceId(), m_cameraOutage); };
    window.liveWords = LiveWordsOf;
    window.allowOrigin = [this] { return m_allowOrigin; };
    window.logConnection = [this](bool accepted, const QString &address) {
        m_fold.Line(ConnectionLogText(accepted, address));
    };
    // A service's log has a line for every connection, so also for one the
    // limit turns away, which the window's log box passes over.
    window.logOverLimit = [this](const QString &address) {
        m_fold.Line(ConnectionLogText(false, address) + QStringLiteral(" (over the limit)"));
    };
    window.logLine = [this](const QString &line) { Log(line); };
    window.pictureRequested = [this] {
        if (!tmr1->isActive())
            tmr1->start();
        FeedStream();
    };
    window.freshPicture = [this] { return m_bFreshPicture; };
    window.freshPictureWanted = [this] {
        tmr1_Timer();
        FeedStream();
    };
    m_server = std::make_unique<cWebServer>(std::move(window));
    connect(tmtTimeout, &QTimer::timeout, m_server.get(), &cWebServer::tmtTimeout_Timer);
    connect(tmtTimeout, &QTimer::timeout, this, &cHeadless::FeedStream);
    connect(tmtTimeout, &QTimer::timeout, this, [this] { m_fold.Flush(); });
}

bool cHeadless::Start()
{
    const HandedSocket handed = TakeHandedSocket();
    if (!handed.sError.isEmpty()) {
        Error(handed.sError);
        return false;
    }
    m_server->setHandedSocket(handed.descriptor);
    m_files = PictureFileNames();
    ReadSettings();
    // A service may well start before its camera is up: it serves the
    // picture that says there is none meanwhile.
    try {
        objCam->Connect();
    } catch (const std::exception &error) {
        Error(QStringLiteral("the camera cannot start: %1; trying again every second")
                  .arg(QString::fromUtf8(error.what())));
        m_cameraOutage.CannotStart(std::time(nullptr));
        tmrCamera->start();
    }
    tmr1->start();
    CaptureTick();
    m_capture->Wait();
    if (!m_server->StartServer(StoredBanList())) {
        Error(QStringLiteral("cannot listen on port %1: %2").arg(m_prefs.sPort, m_server->ListenError()));
        return false;
    }
    tmrUptime->start();
    tmtTimeout->start();
    // A socket systemd hands over is used as it is, whatever the listen address.
    const bool bOnly = handed.descriptor < 0 && !m_sListen.isEmpty();
    const QString sOnly = bOnly ? QStringLiteral(" at ") + m_sListen : QString();
    Log(QStringLiteral("serving on port %1%2").arg(m_server->ListeningPort()).arg(sOnly));
    return true;
}

void cHeadless::Stop()
{
    m_server->StopServer();
    // Every connection taken or refused before the stop has its line, though
    // the program ends before the server's next news would come.
    m_server->DeliverNews();
    m_fold.Flush(true);
    tmrCamera->stop();
    tmr1->stop();
    tmrUptime->stop();
    tmtTimeout->stop();
    m_server->UnloadSlots();
    Log(QStringLiteral("stopped"));
}

void cHeadless::Reload()
{
    const QString sPath = SettingsFileInUse();
    if (const QString problem = SettingsFileProblem(sPath); !problem.isEmpty()) {
        Error(QStringLiteral("the settings file %1 cannot be read (%2); the running settings stay")
                  .arg(sPath, problem));
        return;
    }
    const int lWasPort = m_server->ListeningPort();
    ReadSettings();
    m_server->Refresh();
    m_server->setBanList(StoredBanList());
    m_server->LoadSlots();
    SetCaptureInterval(*tmr1, m_prefs.sIntvl);
    Log(QStringLiteral("settings read again from %1").arg(sPath));
    ApplyPortChange(lWasPort);
}

// The settings file read whole, over the window's design-time values, as at the start.
void cHeadless::ReadSettings()
{
    Prefs prefs;
    prefs.font = DesignFont();
    ReadPrefs(prefs);
    m_prefs = prefs;
    m_logFile.setEnabled(m_prefs.bSavelog);
    if (const QString warning = PasswordExposedText(m_prefs.sPassword); !warning.isEmpty())
        Error(warning);
    m_dStreamFps = StoredStreamFps();
    m_sListen = StoredListenAddress();
    m_bFreshPicture = StoredFreshPicture();
    m_allowOrigin = StoredAllowOrigin();
}

void cHeadless::ApplyPortChange(int lWasPort)
{
    if (!m_server->OpenListener()) {
        Error(QStringLiteral("cannot listen on port %1: %2; still serving on port %3")
                  .arg(m_prefs.sPort, m_server->ListenError())
                  .arg(lWasPort));
        return;
    }
    if (const int port = m_server->ListeningPort(); port != lWasPort)
        Log(QStringLiteral("serving on port %1").arg(port));
}

void cHeadless::TellCycleEvents(const std::vector<CycleEvent> &events)
{
    for (const CycleEvent &event : events)
        Error(CycleEventText(event));
    m_cameraOutage.Note(events, std::time(nullptr));
}

void cHeadless::CaptureTick(bool bCounted)
{
    SetCaptureInterval(*tmr1, m_prefs.sIntvl);
    CaptureAndPublish(*m_capture, m_files, CaptureSettingsOf(m_prefs),
                      [this, bCounted](const cCaptureCycle::Outcome &outcome) {
                          TellCycleEvents(outcome.events);
                          // As the window counts: pictures published by the timer's cycles.
                          if (bCounted && outcome.published) {
                              ++m_lPictures;
                              m_server->Refresh();
                          }
                      });
}

void cHeadless::tmr1_Timer()
{
    CaptureTick(true);
    tmr1->stop();
}

void cHeadless::tmrUptime_Timer()
{
    m_sUptime = UptimeTick(QStringLiteral("Days"), QStringLiteral("Hours"), QStringLiteral("Minutes"),
                           QStringLiteral("Secs"));
    m_server->Refresh();
}

void cHeadless::FeedStream()
{
    m_capture->Stream(CaptureSettingsOf(m_prefs), m_dStreamFps);
}

// One try at a time, where the camera is driven; the timer runs again
// only when it failed.
void cHeadless::tmrCamera_Timer()
{
    tmrCamera->stop();
    auto opened = std::make_shared<bool>(false);
    m_capture->Post(
        [this, opened] {
            try {
                objCam->Connect();
                *opened = true;
            } catch (const std::exception &) {
            }
        },
        [this, opened] {
            if (!*opened) {
                tmrCamera->start();
                return;
            }
            Log(QStringLiteral("the camera is open: %1").arg(objCam->CurrentSourceId()));
            if (!tmr1->isActive())
                tmr1->start();
        });
}

void cHeadless::Log(const QString &sLine)
{
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODate);
    std::fprintf(stdout, "%s %s\n", qPrintable(stamp), qPrintable(sLine));
    std::fflush(stdout);
    m_logFile.Write(sLine);
}

void cHeadless::Error(const QString &sText)
{
    PrintError(sText);
    m_logFile.Write(sText);
}
