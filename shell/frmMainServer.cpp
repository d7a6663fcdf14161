// The main window's side of the web server: the two buttons, the handlers the
// server calls back, the uptime clock and the public address.
#include "frmMain.h"

#include "cLogFile.h"
#include "cTools.h"
#include "cVidCap.h"
#include "cWebServer.h"
#include "clsTray.h"
#include "mLanguage.h"
#include "mMain.h"
#include "mSettingsStore.h"
#include "mServing.h"
#include "mSettings.h"
#include "mStatusPage.h"
#include "mUptime.h"
#include "mWanAddress.h"
#include "vorskres.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kCannotListenText = 154;
constexpr int kAddressUnknownText = 161;
constexpr int kLogFileFailedText = 200;
// The link's tag holds "http://" and the address: longer once an address is known.
constexpr qsizetype kSchemeLength = 7;
const QString kBroadcastingTip = QStringLiteral("Vorsk Server is broadcasting");
// Laying out the Log box on every connection would cost more than serving it.
constexpr int kLogPauseMs = 250;

} // namespace

void frmMain::CreateServer()
{
    ServerWindow window;
    window.txtMaxCon = [this] { return ui.txtMaxCon->text(); };
    window.txtPort = [this] { return ui.txtPort->text(); };
    window.listenAddress = [] { return StoredListenAddress(); };
    window.chkUptime = [this] { return ui.chkUptime->isChecked(); };
    window.chkHeaders = [this] { return ui.chkHeaders->isChecked(); };
    window.txtIntvl = [this] { return ui.txtIntvl->text(); };
    window.txtPassword = [this] { return m_sPassword; };
    window.picturePath = [this] { return PicturePath(m_sJpgFile); };
    window.retUptimePage = [this] {
        return retUptimePage(kVersionMajor, kVersionMinor, kVersionRevision, ui.lblUptime->text(),
                             ui.lblConnections->text());
    };
    window.faceFacts = [this] {
        return FaceFactsOf(ui.lblConnections->text().toLongLong(), objCam->CurrentSourceId(), m_cameraOutage);
    };
    window.liveWords = LiveWordsOf;
    window.allowOrigin = [this] { return m_allowOrigin; };
    window.logConnection = [this](bool accepted, const QString &address) { LogConnection(accepted, address); };
    window.logLine = [this](const QString &line) { ShowLog(line + QStringLiteral("\r\n")); };
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
    m_logPause = new QTimer(this);
    m_logPause->setSingleShot(true);
    m_logPause->setInterval(kLogPauseMs);
    connect(m_logPause, &QTimer::timeout, this, &frmMain::ShowPendingLog);
    // Told after the line that found the file failing, which the box shows first.
    m_logFile = std::make_unique<cLogFile>(
        cLogFile::PathFor(NamedSettingsFile()), [this](const QString &sPath, const QString &sReason) {
            const QString text = LangString(kLogFileFailedText).arg(sPath, sReason);
            std::fprintf(stderr, "vorsk: %s\n", qPrintable(text));
            QMetaObject::invokeMethod(this, [this, text] { ShowLog(text + QStringLiteral("\r\n")); },
                                      Qt::QueuedConnection);
        });
    connect(ui.chkSavelog, &QCheckBox::toggled, this, [this](bool checked) { m_logFile->setEnabled(checked); });
    // What the server reads of the window is handed to it when it changes.
    connect(ui.txtMaxCon, &QLineEdit::textChanged, m_server.get(), &cWebServer::Refresh);
    connect(ui.chkUptime, &QCheckBox::toggled, m_server.get(), &cWebServer::Refresh);
    connect(ui.chkHeaders, &QCheckBox::toggled, m_server.get(), &cWebServer::Refresh);
    connect(ui.txtIntvl, &QLineEdit::textChanged, m_server.get(), &cWebServer::Refresh);
    connect(ui.txtPassword, &QLineEdit::editingFinished, this, [this] {
        m_sPassword = ui.txtPassword->text();
        m_server->Refresh();
    });
    connect(tmrUptime, &QTimer::timeout, this, &frmMain::tmrUptime_Timer);
    connect(tmtTimeout, &QTimer::timeout, m_server.get(), &cWebServer::tmtTimeout_Timer);
    connect(tmtTimeout, &QTimer::timeout, this, &frmMain::FeedStream);
    connect(ui.cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(ui.cmdStop, &QPushButton::clicked, this, &frmMain::cmdStop_Click);
    connect(ui.cmdRenewWAN, &QPushButton::clicked, this, &frmMain::RenewWANAddress);
    connect(ui.cmdCopy, &QPushButton::clicked, this, &frmMain::cmdCopy_Click);
    connect(ui.cmdPreview, &QPushButton::clicked, this, &frmMain::cmdPreview_Click);
}

void frmMain::LogConnection(bool bAccepted, const QString &sAddress)
{
    ShowLog(ConnectionLogText(bAccepted, sAddress) + QStringLiteral("\r\n"));
}

// A line is shown at once unless one was shown within the pause; then the
// latest line of the pause is shown at its end.
void frmMain::ShowLog(const QString &sLine)
{
    m_logFile->Write(sLine);
    if (m_logPause->isActive()) {
        m_sPendingLog = sLine;
        return;
    }
    ui.txtLog->setPlainText(sLine);
    m_logPause->start();
}

void frmMain::ShowPendingLog()
{
    if (m_sPendingLog.isNull())
        return;
    ui.txtLog->setPlainText(std::exchange(m_sPendingLog, QString()));
    m_logPause->start();
}

void frmMain::ShowStatusPanel()
{
    for (QWidget *control : std::initializer_list<QWidget *>{
             ui.lblStatus, ui.lblWANCaption, ui.lblWAN, ui.lblLpsCaption, ui.lblLastSent, ui.lblSUptimeCaption,
             ui.lblUptime, ui.lblConCaption, ui.lblConnections, ui.cmdRenewWAN, ui.cmdCopy})
        control->setVisible(true);
}

void frmMain::cmdStart_Click()
{
    bServerRunning = true;
    ShowStatusPanel();
    SetCaptureInterval(*tmr1, ui.txtIntvl->text());
    // A port that cannot be listened on is said, and the server stays stopped.
    if (!m_server->StartServer(ui.txtBan->toPlainText())) {
        bServerRunning = false;
        QString text = LangString(kCannotListenText);
        text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        QMessageBox::warning(this, windowTitle(), text.arg(ui.txtPort->text(), m_server->ListenError()));
        return;
    }
    ui.cmdPreview->setEnabled(true);
    ui.cmdStart->setEnabled(false);
    ui.cmdStop->setEnabled(true);
    tmrUptime->start();
    RenewWANAddress();
    Tray().ShowIcon(*this);
    Tray().ChangeToolTip(*this, kBroadcastingTip);
    tmtTimeout->start();
}

void frmMain::cmdStop_Click()
{
    bServerRunning = false;
    StopServer();
    ui.cmdPreview->setEnabled(false);
    ui.cmdStop->setEnabled(false);
    ui.cmdStart->setEnabled(true);
    tmrUptime->stop();
    tmtTimeout->stop();
    UptimeReset();
    Tray().RemoveIcon(*this);
}

void frmMain::StopServer()
{
    m_server->StopServer();
}

void frmMain::tmrUptime_Timer()
{
    ui.lblUptime->setText(UptimeTick(QStringLiteral("Days"), QStringLiteral("Hours"), QStringLiteral("Minutes"),
                                     QStringLiteral("Secs")));
    m_server->Refresh();
}

void frmMain::RenewWANAddress()
{
    const WanLink link =
        ::RenewWANAddress(ui.txtIPServer->text(), ui.txtPort->text(), ui.lblWAN->property("Tag").toString(),
                          [](const QString &url) { return Tools().GetUrlSource(url); });
    ui.lblWAN->setProperty("Tag", link.sTag);
    // Without an address (no answer, or none that is an address) a person
    // reads that it is unknown, not a bare "http://".
    ui.lblWAN->setText(AddressKnown() ? link.sCaption : LangString(kAddressUnknownText));
}

bool frmMain::AddressKnown() const
{
    return ui.lblWAN->property("Tag").toString().size() > kSchemeLength;
}

void frmMain::cmdCopy_Click()
{
    if (!AddressKnown())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(cViewerKey::LinkWithKey(ui.lblWAN->text(), m_sPassword));
}

void frmMain::lblWAN_MouseUp()
{
    if (AddressKnown() && ui.lblWAN->text().size() > kSchemeLength)
        OpenViewerLink(ui.lblWAN->text());
}

void frmMain::cmdPreview_Click()
{
    OpenViewerLink(PreviewUrl(ui.txtPort->text(), StoredListenAddress()));
}

// Behind a password the browser gets the link through a page of the owner's
// alone, since a command line (the browser launcher's) is for every local user to read.
void frmMain::OpenViewerLink(const QString &sLink)
{
    if (m_sPassword.isEmpty())
        Tools().mSurfToURL(sLink);
    else if (!Tools().mSurfToURLPrivately(cViewerKey::LinkWithKey(sLink, m_sPassword)))
        std::fprintf(stderr, "vorsk: the link with the key cannot be opened: no private folder to write it to\n");
}
