#pragma once

#include "cLogFile.h"
#include "cLogFold.h"
#include "mServing.h"
#include "mSettings.h"

#include <QObject>
#include <QString>
#include <memory>

class QTimer;
class cVidCap;
class cWebServer;

// The program without a window: the same capture cycle and server as the
// window, driven by the stored settings, which it only reads. Log lines go
// to stdout with a time stamp, errors to stderr, and both to the log file
// when the settings ask for one.
class cHeadless : public QObject
{
    Q_OBJECT

public:
    explicit cHeadless(QObject *parent = nullptr);
    ~cHeadless() override;

    // Reads the settings, opens the camera, publishes the first picture and
    // starts the server, on the listening socket handed over by systemd where
    // there is one, else on the port of the settings. A camera that cannot
    // start is tried again every second while the server runs, saying so
    // once. False, with the reason on stderr, when the listener cannot start.
    bool Start();
    void Stop();
    // Reads the settings file again, in place: connected viewers stay, the
    // new settings hold from now on; a new port is opened before the old one
    // closes, and the old one stays when the new cannot be opened. A file
    // that cannot be read leaves the running settings as they are. Says
    // what it did in the log.
    void Reload();

private:
    void ReadSettings();
    void ApplyPortChange(int lWasPort);
    void Log(const QString &sLine);
    void Error(const QString &sText);
    void TellCycleEvents(const std::vector<CycleEvent> &events);
    void CaptureTick(bool bCounted = false);
    void tmr1_Timer();
    void tmrUptime_Timer();
    void tmrCamera_Timer();
    void FeedStream();
    void CreateServer();

    Prefs m_prefs;
    cLogFile m_logFile;
    // The connection lines, folded under a flood.
    cLogFold m_fold;
    QTimer *tmr1;
    QTimer *tmrUptime;
    QTimer *tmtTimeout;
    QTimer *tmrCamera;
    cVidCap *objCam;
    std::unique_ptr<cWebServer> m_server;
    // Ends first: the cycle under way still hands its picture to the server.
    std::unique_ptr<cCaptureThread> m_capture;
    PictureFiles m_files;
    // As the window's uptime label shows it before the first tick.
    QString m_sUptime = QStringLiteral("-");
    int m_lPictures = 0;
    cCameraOutage m_cameraOutage;
    QStringList m_allowOrigin;
    double m_dStreamFps = 0;
    // [server] listen as read at the start.
    QString m_sListen;
    bool m_bFreshPicture = true;
};
