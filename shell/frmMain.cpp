#include "frmMain.h"

#include "cCommonDialog.h"
#include "cLogFile.h"
#include "cSourceDialog.h"
#include "cVidCap.h"
#include "cWebServer.h"
#include "cTools.h"
#include "clsTray.h"
#include "mLanguage.h"
#include "mMain.h"
#include "mPublicTypes.h"
#include "mSelectPage.h"
#include "mServing.h"
#include "mSettings.h"
#include "vorskres.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kLogoPicture = 101;
constexpr int kStartupFailureText = 144;
constexpr int kQuitWhileServingText = 152;
constexpr int kColorDialogTitle = 146;
constexpr int kFormatDialogTitle = 165;
constexpr int kSourceDialogTitle = 166;
constexpr int kDefaultControlText = 195;
constexpr int kNoControlsText = 196;
const int kTabCaptions[] = {133, 132, 134, 139, 141};

// Where the camera motif sits in the logo; it is the window's icon.
const QRect kLogoCameraRect(8, 0, 75, 75);

// Resource texts keep "\n" as two characters; message boxes want line breaks.
QString WithLineBreaks(QString text)
{
    return text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

QTimer *MakeTimer(QObject *parent, const char *name, int interval, bool enabled)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    if (enabled)
        timer->start();
    return timer;
}

// Shut-down steps stand on their own: one that fails does not stop the next.
void Step(const std::function<void()> &step)
{
    try {
        step();
    } catch (...) {
    }
}

} // namespace

frmMain::frmMain(QWidget *parent) : QWidget(parent)
{
    ui.setupUi(this);
    // Labels show what comes from outside (the public address, status texts,
    // the wording library) as the characters it is, never as markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    setFixedSize(353, 388);
    tmr1 = MakeTimer(this, "tmr1", 4000, true);
    tmrUptime = MakeTimer(this, "tmrUptime", 1000, false);
    tmtTimeout = MakeTimer(this, "tmtTimeout", 1000, false);

    mnuMain = new QMenu(this);
    mnuMain->setObjectName(QStringLiteral("mnuMain"));
    mnuShow = mnuMain->addAction(QStringLiteral("153"));
    mnuShow->setObjectName(QStringLiteral("mnuShow"));
    connect(mnuShow, &QAction::triggered, this, &frmMain::ShowFromTray);

    objCam = new cVidCap(this);
    objCam->setObjectName(QStringLiteral("objCam"));
    connect(tmr1, &QTimer::timeout, this, &frmMain::tmr1_Timer);
    // The camera is switched where it is driven, after the cycle under way.
    connect(ui.cmdChangeRes, &QPushButton::clicked, this, [this] {
        if (const auto size = objCam->ShowFormatDialog(this, LangString(kFormatDialogTitle)))
            m_captureThread->Post([this, size] { objCam->SelectFormat(*size); }, [this] { ShowCamResolution(); });
    });
    connect(ui.cmdDevice, &QPushButton::clicked, this, [this] {
        const SourceDialogTexts texts{LangString(kSourceDialogTitle), LangString(kDefaultControlText),
                                      LangString(kNoControlsText)};
        // While it is open the camera's picture is taken twice a second for its preview.
        auto prepare = [this](cSourceDialog &dialog) {
            m_sourceDialog = &dialog;
            connect(&dialog, &cSourceDialog::PreviewWanted, this, [this] { CaptureTick(); });
        };
        if (const auto source = objCam->ShowSourceDialog(this, texts, prepare))
            m_captureThread->Post([this, source] { objCam->SelectSource(*source); }, [this] { ShowCamResolution(); });
    });

    // Design-time caption font and colours of the two swatches.
    QFont captionFont(QStringLiteral("Verdana"));
    captionFont.setPointSizeF(8.25);
    ui.pfg->setFont(captionFont);
    ui.pfg->setBackColor(0xFFFFFF);
    ui.pbg->setBackColor(0x000000);

    for (QLineEdit *box : {ui.txtPort, ui.txtIntvl, ui.txtWidth, ui.txtHeight, ui.txtMaxCon})
        AttachNumericBox(*box);
    connect(ui.tabSettings, &QTabWidget::currentChanged, this, [this](int index) { SelectPage(ui, index + 1); });
    connect(ui.Slider1, &QSlider::valueChanged, this, &frmMain::Slider1_Scroll);
    connect(ui.cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(ui.cmdHelp, &QPushButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(ui.cmdSelectFont, &QPushButton::clicked, this, &frmMain::cmdSelectFont_Click);
    connect(ui.pbg, &cColorSwatch::clicked, this, [this] { PickColor(*ui.pbg); });

    CreateServer();
    m_captureThread = MakeCaptureThread(*objCam, *m_server, [this](const std::vector<CycleEvent> &events) {
        for (const CycleEvent &event : events)
            LogCycleEvent(event);
        m_cameraOutage.Note(events, std::time(nullptr));
    });

    ui.lblWAN->setMouseTracking(true);
    ui.pStatus->setMouseTracking(true);
    ui.lblWAN->installEventFilter(this);
    ui.pStatus->installEventFilter(this);
}

frmMain::~frmMain() = default;

clsTray &frmMain::Tray()
{
    if (!m_tray) {
        m_tray = std::make_unique<clsTray>();
        connect(m_tray.get(), &clsTray::MouseEvent, this, &frmMain::Form_MouseMove);
    }
    return *m_tray;
}

bool frmMain::Form_Load()
{
    try {
        RunStartupSteps();
        return true;
    } catch (const std::exception &error) {
        ReportStartupFailure(QString::fromUtf8(error.what()));
    } catch (...) {
        ReportStartupFailure(QString());
    }
    Form_Unload();
    return false;
}

void frmMain::RunStartupSteps()
{
    const PictureFiles files = PictureFileNames();
    m_sJpgFile = files.sJpgFile;
    m_sBmpFile = files.sBmpFile;
    m_cHookDlg = std::make_unique<cCommonDialog>();
    LoadBanList(ui);
    if (IsClassicStyle()) {
        for (QLineEdit *box : {ui.txtPort, ui.txtIntvl, ui.txtWidth, ui.txtHeight, ui.txtMaxCon, ui.txtIPServer,
                               ui.txtOnImage})
            box->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid palette(dark); }"));
        for (QPlainTextEdit *box : {ui.txtLog, ui.txtBan})
            box->setFrameStyle(QFrame::Box | QFrame::Plain);
    }
    setWindowTitle(QStringLiteral(" Vorsk Server"));
    const bool keepFonts = Tools().ISXP() && !IsClassicStyle();
    const QString version = VersionText(kVersionMajor, kVersionMinor, kVersionRevision);
    ui.lblTagline->setText(QStringLiteral("Version: ") + version + QStringLiteral(" - Keep the data flowing!"));
    ApplyLanguage(*this, keepFonts, IsClassicStyle);
    ui.lblVersion->setText(QStringLiteral("Version: ") + version);
    const QImage logo = LangPicture(kLogoPicture, 0);
    ui.pLogo->setPixmap(QPixmap::fromImage(logo));
    setWindowIcon(QIcon(QPixmap::fromImage(logo.copy(kLogoCameraRect))));
    LoadSettings(ui);
    m_bSettingsLoaded = true;
    m_sPassword = ui.txtPassword->text();
    if (const QString warning = PasswordExposedText(m_sPassword); !warning.isEmpty())
        std::fprintf(stderr, "vorsk: %s\n", qPrintable(warning));
    ReplaceTabCaptions();
    m_dStreamFps = StoredStreamFps();
    m_bFreshPicture = StoredFreshPicture();
    m_allowOrigin = StoredAllowOrigin();
    objCam->Connect();
    ShowCamResolution();
    ui.picImg->setFont(QFont(QStringLiteral("verdana"), 7));
    CaptureTick();
    m_captureThread->Wait();
    ui.lblConnections->setText(QStringLiteral("0"));
}

void frmMain::ShowCamResolution()
{
    const QSize size = objCam->Size();
    if (!size.isEmpty())
        ui.lblCamResolution->setText(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()));
}

CaptureSettings frmMain::ReadCaptureSettings() const
{
    CaptureSettings settings = CaptureSettingsOf(PrefsOf(ui));
    settings.bInvert = ui.chkInvertImage->isChecked();
    settings.previewSize = ui.pPreview->contentsRect().size();
    return settings;
}

void frmMain::CaptureTick(bool bCounted)
{
    SetCaptureInterval(*tmr1, ui.txtIntvl->text());
    CaptureAndPublish(*m_captureThread, {m_sJpgFile, m_sBmpFile}, ReadCaptureSettings(),
                      [this, bCounted](const cCaptureCycle::Outcome &outcome) {
                          ShowCycleOutcome(outcome);
                          if (bCounted && outcome.published)
                              CountPicture();
                      });
}

// The live stream's settings from the controls, while anyone may watch it.
void frmMain::FeedStream()
{
    m_captureThread->Stream(ReadCaptureSettings(), m_dStreamFps);
}

void frmMain::ShowCycleOutcome(const cCaptureCycle::Outcome &outcome)
{
    if (ui.chkPreview->isChecked() && !outcome.preview.isNull())
        ui.pPreview->setPixmap(QPixmap::fromImage(outcome.preview));
    if (m_sourceDialog && !outcome.preview.isNull())
        m_sourceDialog->ShowPreview(outcome.preview);
    for (const CycleEvent &event : outcome.events)
        LogCycleEvent(event);
    m_cameraOutage.Note(outcome.events, std::time(nullptr));
}

// A stale picture is told to the event log and, for whoever reads the
// program's output, to stderr.
void frmMain::LogCycleEvent(const CycleEvent &event)
{
    const QString text = CycleEventText(event);
    ShowLog(text + QStringLiteral("\r\n"));
    std::fprintf(stderr, "vorsk: %s\n", qPrintable(text));
}

void frmMain::tmr1_Timer()
{
    CaptureTick(true);
    tmr1->stop();
}

// Only a cycle that ran and published moves the count and the time on: one
// turned away while another runs, or one that published nothing, does not.
void frmMain::CountPicture()
{
    ui.lblLastSent->setText(retTimeStamp());
    bool counted = false;
    const int pictures = ui.lblConnections->text().toInt(&counted);
    if (counted)
        ui.lblConnections->setText(QString::number(pictures + 1));
    m_server->Refresh();
}

void frmMain::ReplaceTabCaptions()
{
    for (int i = 0; i < ui.tabSettings->count() && i < int(std::size(kTabCaptions)); ++i)
        ui.tabSettings->setTabText(i, LangString(kTabCaptions[i]));
}

// The user sees the program's message; the reason goes to stderr for whoever
// looks into it.
void frmMain::ReportStartupFailure(const QString &sReason)
{
    // A program that could not start takes no pictures while it says so.
    tmr1->stop();
    if (!sReason.isEmpty())
        std::fprintf(stderr, "vorsk: %s\n", qPrintable(sReason));
    QString text = sReason;
    try {
        text = WithLineBreaks(LangString(kStartupFailureText));
    } catch (...) {
    }
    QMessageBox::critical(this, QStringLiteral("Vorsk"), text);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The system may end the program while the question is still open.
    const bool confirmed = m_bEndingBySystem || Form_QueryUnload();
    if (!confirmed && !m_bEndingBySystem) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

bool frmMain::Form_QueryUnload()
{
    if (ui.cmdStart->isEnabled())
        return true;
    const QString text = WithLineBreaks(LangString(kQuitWhileServingText));
    return QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void frmMain::Form_Unload()
{
    if (m_bUnloaded)
        return;
    m_bUnloaded = true;
    // Settings are only written once they were read: a start-up that failed
    // earlier must not replace them by the design-time values.
    Step([this] { StopServer(); });
    Step([this] { m_server->UnloadSlots(); });
    if (m_bSettingsLoaded)
        Step([this] { SaveSettings(ui); });
    if (m_tray)
        Step([this] { m_tray->RemoveIcon(*this); });
    emit Unloaded();
}

void frmMain::EndBySystem()
{
    m_bEndingBySystem = true;
    // An open dialog (a question, a failure message) gives way first.
    while (QWidget *dialog = QApplication::activeModalWidget())
        if (!dialog->close())
            break;
    close();
}

void frmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized))
        return;
    // Hidden only where an icon can bring it back.
    if (bServerRunning && m_tray && m_tray->bRunningInTray() && QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, &QWidget::hide);
}

void frmMain::Form_MouseMove(int lMessage)
{
    if (!m_tray || !m_tray->bRunningInTray())
        return;
    if (lMessage == WM_RBUTTONUP)
        mnuMain->popup(QCursor::pos());
    else if (lMessage == WM_LBUTTONDBLCLK)
        ShowFromTray();
}

void frmMain::ShowFromTray()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // A move over the link underlines it; a move elsewhere on the page takes
    // the underline away. The label passes its own moves on to the page, so
    // the page tells them apart by where the mouse is.
    if (event->type() == QEvent::MouseMove && (watched == ui.lblWAN || watched == ui.pStatus)) {
        const QPoint global = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
        QFont font = ui.lblWAN->font();
        font.setUnderline(ui.lblWAN->isVisible() && ui.lblWAN->rect().contains(ui.lblWAN->mapFromGlobal(global)));
        ui.lblWAN->setFont(font);
    }
    if (event->type() == QEvent::MouseButtonRelease && watched == ui.lblWAN)
        lblWAN_MouseUp();
    return QWidget::eventFilter(watched, event);
}

void frmMain::cmdHelp_Click()
{
    const QString page = HelpPagePath();
    if (!page.isEmpty())
        Tools().mSurfToURL(QUrl::fromLocalFile(page).toString());
}

void frmMain::cmdSelectFont_Click()
{
    QFont font = ui.pfg->font();
    cCommonDialog &dialog = *m_cHookDlg;
    dialog.setHookDialog(true);
    dialog.setFont(&font);
    dialog.setFontColor(ui.pfg->BackColor());
    // A size written by hand beyond the offered 7 to 10 is shown and kept as it is.
    dialog.setMax(std::max(10, int(std::ceil(font.pointSizeF()))));
    dialog.setMin(std::min(7, std::max(1, int(std::floor(font.pointSizeF())))));
    dialog.setCancelError(true);
    dialog.setFlags(257);
    dialog.setHwnd(this);
    const bool chosen = dialog.ShowFont();
    dialog.setFont(nullptr);
    if (!chosen)
        return;
    QFont caption = ui.pfg->font();
    caption.setBold(font.bold());
    caption.setItalic(font.italic());
    caption.setFamily(font.family());
    caption.setPointSizeF(font.pointSizeF());
    caption.setStrikeOut(font.strikeOut());
    caption.setUnderline(font.underline());
    ui.pfg->setFont(caption);
    ui.pfg->setBackColor(dialog.FontColor());
}

void frmMain::PickColor(cColorSwatch &box)
{
    cCommonDialog &dialog = *m_cHookDlg;
    dialog.setHookDialog(true);
    dialog.setDialogTitle(LangString(kColorDialogTitle));
    dialog.setFlags(258);
    dialog.setCancelError(true);
    dialog.setHwnd(this);
    dialog.setColor(box.BackColor());
    if (dialog.ShowColor())
        box.setBackColor(dialog.Color());
}

void frmMain::Slider1_Scroll()
{
    ui.lblQuality->setText(QString::number(ui.Slider1->value()) + QLatin1Char('%'));
}
