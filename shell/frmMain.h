#pragma once

#include "cCaptureThread.h"
#include "mServing.h"
#include "ui_frmMain.h"

#include <QFont>
#include <QPointer>
#include <QWidget>
#include <memory>

class QMenu;
class QAction;
class QTimer;
class cCommonDialog;
class cLogFile;
class cSourceDialog;
class cColorSwatch;
class clsTray;
class cVidCap;
class cWebServer;

// The main window and the controller of the whole program: its controls are
// the live settings, its timers drive the capture cycle and the server's
// housekeeping, and its handlers are the entry points of every action.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up sequence. On failure it tells the user (message 144),
    // unloads the window and returns false; the program then ends.
    bool Form_Load();

    Ui::frmMain &Controls() { return ui; }
    QTimer &Tmr1() const { return *tmr1; }
    QMenu &MainMenu() const { return *mnuMain; }
    clsTray &Tray();
    cCommonDialog &HookDialog() const { return *m_cHookDlg; }
    const QString &JpgFile() const { return m_sJpgFile; }
    const QString &BmpFile() const { return m_sBmpFile; }
    bool ServerRunning() const { return bServerRunning; }
    cVidCap &Camera() const { return *objCam; }

    cWebServer &Server() const { return *m_server; }

    // The server's buttons and what they start and stop.
    void cmdStart_Click();
    void cmdStop_Click();
    void StopServer();
    void RenewWANAddress();
    void cmdCopy_Click();
    void lblWAN_MouseUp();
    void cmdPreview_Click();
    void tmrUptime_Timer();

    // One run of the capture cycle with the controls' current settings, on
    // the capture thread; its preview and log lines follow when it is done,
    // and, when bCounted, the picture count and time if it published.
    void CaptureTick(bool bCounted = false);
    cCaptureThread &CaptureThread() const { return *m_captureThread; }
    // The capture timer's tick: a cycle, the time stamp, the count, timer off.
    void tmr1_Timer();

    // The system ends the program (signal, session end): the orderly
    // shut-down without the question.
    void EndBySystem();

    // A mouse event over the notification icon, by its message code.
    void Form_MouseMove(int lMessage);

    void PickColor(cColorSwatch &box);

signals:
    // The window has been unloaded: settings saved, server stopped. The
    // program ends then, whether the window was shown, minimised or hidden.
    void Unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void RunStartupSteps();
    void ReportStartupFailure(const QString &sReason);
    bool Form_QueryUnload();
    void Form_Unload();
    void ShowFromTray();
    void cmdHelp_Click();
    void cmdSelectFont_Click();
    void Slider1_Scroll();
    void ReplaceTabCaptions();
    void ShowCamResolution();
    CaptureSettings ReadCaptureSettings() const;
    void CreateServer();
    void ShowStatusPanel();
    bool AddressKnown() const;
    void LogConnection(bool bAccepted, const QString &sAddress);
    void OpenViewerLink(const QString &sLink);
    void ShowLog(const QString &sLine);
    void ShowPendingLog();
    void ShowCycleOutcome(const cCaptureCycle::Outcome &outcome);
    void CountPicture();
    void FeedStream();
    void LogCycleEvent(const CycleEvent &event);

    Ui::frmMain ui;
    QTimer *tmr1;
    QTimer *tmrUptime;
    QTimer *tmtTimeout;
    // The Log box shows the latest line at most every few hundred
    // milliseconds: a line that comes sooner waits here, replaced by any later one.
    QTimer *m_logPause = nullptr;
    QString m_sPendingLog;
    // Every line of the Log box, with "Save logfile" checked.
    std::unique_ptr<cLogFile> m_logFile;
    QMenu *mnuMain;
    QAction *mnuShow;
    cVidCap *objCam;
    std::unique_ptr<cWebServer> m_server;
    // Ends first: the cycle under way still hands its picture to the server.
    std::unique_ptr<cCaptureThread> m_captureThread;

    bool bServerRunning = false;
    double m_dStreamFps = 0;
    // The viewers' password in force: the box's text once the owner is done
    // with it (Enter, or the focus gone), never a half-typed one.
    QString m_sPassword;
    bool m_bFreshPicture = true;
    // [server] alloworigin as the settings file had it at start-up.
    QStringList m_allowOrigin;
    cCameraOutage m_cameraOutage;
    QString m_sJpgFile;
    QString m_sBmpFile;
    std::unique_ptr<cCommonDialog> m_cHookDlg;
    std::unique_ptr<clsTray> m_tray;
    // The source dialog while it is open, for its preview.
    QPointer<cSourceDialog> m_sourceDialog;

    bool m_bSettingsLoaded = false;
    bool m_bEndingBySystem = false;
    bool m_bUnloaded = false;
};
