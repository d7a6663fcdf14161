#include "ProgramRun.h"
#include "ShellTestSupport.h"
#include "cCommonDialog.h"
#include "cSystemEnd.h"
#include "clsTray.h"
#include "frmMain.h"
#include "mComponentRegistry.h"
#include "cTools.h"
#include "cWebServer.h"
#include "vorskres.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

namespace {

class MainWindow : public SettingsHome
{
protected:
    void SetUp() override
    {
        SettingsHome::SetUp();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home.path()));
        window = std::make_unique<frmMain>();
        ASSERT_TRUE(window->Form_Load());
    }

    Ui::frmMain &ui() { return window->Controls(); }

    void ShowActive()
    {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // The names of the controls the Tab key visits from the focus, count presses.
    QStringList WalkTab(int presses)
    {
        QStringList visited;
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        return visited;
    }

    std::unique_ptr<frmMain> window;
};

const QStringList kManaged = {
    QStringLiteral("txtPort"),        QStringLiteral("txtIntvl"),      QStringLiteral("txtMaxCon"),
    QStringLiteral("txtWidth"),       QStringLiteral("txtHeight"),     QStringLiteral("txtOnImage"),
    QStringLiteral("txtIPServer"),    QStringLiteral("chkInvertImage"), QStringLiteral("chkTransparent"),
    QStringLiteral("chkHeaders"),     QStringLiteral("txtPassword"),   QStringLiteral("chkSavelog"),
    QStringLiteral("chkUptime"),      QStringLiteral("cboRotate"),     QStringLiteral("cboFlip"),
    QStringLiteral("chkPreview"),     QStringLiteral("cmdSelectFont"), QStringLiteral("cmdChangeRes"),
    QStringLiteral("cmdDevice"),      QStringLiteral("cmdPreview"),    QStringLiteral("cmdRenewWAN"),
    QStringLiteral("cmdCopy")};

// What the window hands to the desktop's browser, taken instead.
class OpenedUrls : public QObject
{
    Q_OBJECT

public:
    OpenedUrls() { Handle(this); }
    ~OpenedUrls() override { Handle(nullptr); }
    static void Handle(QObject *receiver)
    {
        for (const QString &scheme : {QStringLiteral("file"), QStringLiteral("http")})
            QDesktopServices::setUrlHandler(scheme, receiver, "Open");
    }
    Q_INVOKABLE void Open(const QUrl &url) { urls << url; }
    QList<QUrl> urls;
};

QStringList ManagedOnly(const QStringList &names)
{
    QStringList managed;
    for (const QString &name : names)
        if (kManaged.contains(name))
            managed << name;
    return managed;
}

} // namespace

TEST_F(MainWindow, StartUpPutsWordingLookAndSettingsInPlace)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral(" Vorsk Server"));
    EXPECT_EQ(window->size(), QSize(353, 388));
    const QStringList tabs = {QStringLiteral("Status"), QStringLiteral("Settings"), QStringLiteral("Image"),
                              QStringLiteral("Log"), QStringLiteral("About")};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ui().tabSettings->tabText(i), tabs[i]);
    EXPECT_EQ(ui().cmdStart->text(), QStringLiteral("&Start server"));
    EXPECT_EQ(ui().lblRefuse->text(), QStringLiteral("Baned IP numbers (New row between entries)"));
    EXPECT_EQ(ui().chkHeaders->text(), QStringLiteral("Send HTTP headers (any port, any browser)"));
    EXPECT_EQ(window->MainMenu().actions().value(0)->text(), QStringLiteral("Show Vorsk Server Window"));
    EXPECT_EQ(ui().lblVersion->text(), QStringLiteral("Version: 3.0.30"));
    EXPECT_EQ(ui().lblTagline->text(), QStringLiteral("Version: 3.0.30 - Keep the data flowing!"));
    EXPECT_EQ(ui().pLogo->pixmap().size(), QSize(309, 75));
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->JpgFile(), QStringLiteral("lastpic.jpg"));
    EXPECT_EQ(window->BmpFile(), QStringLiteral("lastpic.bmp"));

    // Linux is never Windows XP: the classic look, flat boxes, the classic face.
    EXPECT_EQ(ui().txtBan->frameShadow(), QFrame::Plain);
    EXPECT_FALSE(ui().txtPort->styleSheet().isEmpty());
    EXPECT_EQ(ui().lblPort->font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(ui().pfg->font().family(), QStringLiteral("MS Sans Serif"));

    EXPECT_EQ(ui().txtWidth->text(), QStringLiteral("320"));
    EXPECT_FALSE(ui().chkHeaders->isChecked());
    EXPECT_EQ(ui().lblConnections->text(), QStringLiteral("0"));
    EXPECT_FALSE(ui().cmdStop->isEnabled());
    EXPECT_FALSE(ui().cmdPreview->isEnabled());
    EXPECT_TRUE(ui().lblWAN->isHidden());
    EXPECT_TRUE(ui().cmdRenewWAN->isHidden());
    EXPECT_TRUE(window->Tmr1().isActive());
}

TEST_F(MainWindow, EachPageKeepsTheKeyboardToItself)
{
    ShowActive();
    ui().tabSettings->setCurrentIndex(1);
    EXPECT_EQ(QApplication::focusWidget(), ui().txtIntvl);
    EXPECT_EQ(ui().txtIntvl->selectedText(), QStringLiteral("3"));
    const QStringList settingsWalk = WalkTab(16);
    EXPECT_EQ(ManagedOnly(settingsWalk).mid(0, 8),
              (QStringList{QStringLiteral("txtPort"), QStringLiteral("txtMaxCon"), QStringLiteral("txtIPServer"),
                           QStringLiteral("txtOnImage"), QStringLiteral("cmdSelectFont"),
                           QStringLiteral("chkTransparent"), QStringLiteral("chkHeaders"),
                           QStringLiteral("txtPassword")}));
    // The headers box and the password box come last of the page, just before the bottom buttons.
    const qsizetype headers = settingsWalk.indexOf(QStringLiteral("chkHeaders"));
    ASSERT_GE(headers, 1);
    EXPECT_EQ(settingsWalk.at(headers - 1), QStringLiteral("chkTransparent"));
    EXPECT_EQ(settingsWalk.value(headers + 1), QStringLiteral("txtPassword"));
    EXPECT_EQ(settingsWalk.value(headers + 2), QStringLiteral("cmdStart"));
    EXPECT_EQ(ui().txtPassword->echoMode(), QLineEdit::Password);

    ui().tabSettings->setCurrentIndex(2);
    EXPECT_EQ(QApplication::focusWidget(), ui().cmdChangeRes);
    for (const QString &name : ManagedOnly(WalkTab(16)))
        EXPECT_TRUE((QStringList{QStringLiteral("cmdChangeRes"), QStringLiteral("cmdDevice"), QStringLiteral("txtWidth"),
                                 QStringLiteral("txtHeight"), QStringLiteral("chkInvertImage"),
                                 QStringLiteral("cboRotate"), QStringLiteral("cboFlip")})
                        .contains(name))
            << name.toStdString();

    ui().cmdHelp->setFocus();
    ui().tabSettings->setCurrentIndex(3);
    EXPECT_EQ(QApplication::focusWidget(), ui().cmdHelp) << "the Log page leaves the focus";
    for (const QString &name : ManagedOnly(WalkTab(12)))
        EXPECT_TRUE(name == QStringLiteral("chkSavelog") || name == QStringLiteral("chkUptime")) << name.toStdString();
    ui().tabSettings->setCurrentIndex(0);
    EXPECT_FALSE(ManagedOnly(WalkTab(16)).contains(QStringLiteral("chkHeaders"))) << "only the Settings page reaches it";
    EXPECT_FALSE(ManagedOnly(WalkTab(16)).contains(QStringLiteral("txtPassword")));

    ui().tabSettings->setCurrentIndex(4);
    EXPECT_TRUE(ManagedOnly(WalkTab(8)).isEmpty());
}

TEST_F(MainWindow, TheFirstPictureExistsAndTheTickCounts)
{
    EXPECT_EQ(ui().lblCamResolution->text(), QStringLiteral("640 x 480"));
    const QString folder = Tools().RetSysDir(LDV_TempFolder);
    ASSERT_TRUE(folder.startsWith(m_home.path()));
    EXPECT_EQ(QImage(folder + QStringLiteral("lastpic.jpg")).size(), QSize(320, 240));
    EXPECT_EQ(ui().lblConnections->text(), QStringLiteral("0"));
    EXPECT_EQ(window->Tmr1().interval(), 3000) << "set from the interval box by the first cycle";

    ui().txtIntvl->setText(QStringLiteral("2.5"));
    window->tmr1_Timer();
    window->tmr1_Timer(); // turned away: the first cycle is still under way
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui().lblConnections->text() == QStringLiteral("1"); }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(ui().lblConnections->text(), QStringLiteral("1")) << "a tick turned away counts no picture";
    EXPECT_FALSE(window->Tmr1().isActive());
    EXPECT_EQ(window->Tmr1().interval(), 2500);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^20\\d\\d-\\d\\d-\\d\\d - \\d{1,2}:\\d\\d:\\d\\d$"))
                    .match(ui().lblLastSent->text())
                    .hasMatch())
        << ui().lblLastSent->text().toStdString();
}

TEST_F(MainWindow, APictureThatCannotBeMadeIsToldInTheLogUntilItWorksAgain)
{
    ui().txtWidth->setText(QStringLiteral("18000"));
    ui().txtHeight->setText(QStringLiteral("18000"));
    window->CaptureTick();
    // The cycle runs on the capture thread; its line follows.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ui().txtLog->toPlainText().startsWith(QStringLiteral("Could not publish the picture: ")); }, 3000))
        << qPrintable(ui().txtLog->toPlainText());
    EXPECT_TRUE(ui().txtLog->toPlainText().contains(QStringLiteral("18000 x 18000")));

    ui().txtWidth->setText(QStringLiteral("173"));
    ui().txtHeight->setText(QStringLiteral("127"));
    window->CaptureTick();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ui().txtLog->toPlainText().trimmed() == QStringLiteral("The picture is published again."); }, 3000));
}

TEST_F(MainWindow, OnlyTheBoxWithTheFocusShowsASelectionAndBoxesShowTheirStart)
{
    ShowActive();
    ui().txtOnImage->setText(QStringLiteral("A caption far too long to be seen whole in its box {HH}:{MI}:{SS}"));
    ui().tabSettings->setCurrentIndex(1);
    ASSERT_EQ(QApplication::focusWidget(), ui().txtIntvl);
    for (QLineEdit *box : {ui().txtPort, ui().txtMaxCon, ui().txtIPServer, ui().txtOnImage}) {
        EXPECT_FALSE(box->hasSelectedText()) << box->objectName().toStdString();
        EXPECT_EQ(box->cursorPosition(), 0) << box->objectName().toStdString();
    }
    // The text is selected as the focus reaches a box, and only there.
    QTest::keyClick(ui().txtIntvl, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), ui().txtPort);
    EXPECT_EQ(ui().txtPort->selectedText(), ui().txtPort->text());
    EXPECT_FALSE(ui().txtIntvl->hasSelectedText());

    ui().tabSettings->setCurrentIndex(2);
    EXPECT_FALSE(ui().txtWidth->hasSelectedText());
    EXPECT_FALSE(ui().txtHeight->hasSelectedText());
}

TEST_F(MainWindow, TheAddressLinkUnderlinesUnderTheMouseOnly)
{
    ShowActive();
    ui().lblWAN->setText(QStringLiteral("http://203.0.113.5"));
    ui().lblWAN->show(); // as serving shows it
    ASSERT_TRUE(ui().lblWAN->isVisible());
    QTest::mouseMove(ui().lblWAN, ui().lblWAN->rect().center());
    QTest::qWait(20);
    EXPECT_TRUE(ui().lblWAN->font().underline()) << "over the link";
    QTest::mouseMove(ui().pStatus, QPoint(5, ui().pStatus->height() - 5));
    QTest::qWait(20);
    EXPECT_FALSE(ui().lblWAN->font().underline()) << "elsewhere on the page";
}

TEST_F(MainWindow, AnUnknownOutsideAddressIsSaidSoAndNotCopied)
{
    ui().txtPort->setText(QStringLiteral("8080"));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    // No service at all, and one that cannot be reached.
    for (const QString &service : {QString(), QStringLiteral("http://127.0.0.1:1/")}) {
        ui().txtIPServer->setText(service);
        window->RenewWANAddress();
        EXPECT_EQ(ui().lblWAN->text(), QStringLiteral("Outside address unknown")) << service.toStdString();
        window->cmdCopy_Click();
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    }
    // A known address keeps its link and its copy as they were.
    ui().lblWAN->setProperty("Tag", QStringLiteral("http://203.0.113.5"));
    ui().txtIPServer->setText(QString());
    window->RenewWANAddress();
    EXPECT_EQ(ui().lblWAN->text(), QStringLiteral("http://203.0.113.5:8080"));
    window->cmdCopy_Click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("http://203.0.113.5:8080"));
    // Behind a password the link copied carries it, so it works for whoever gets it.
    ui().txtPassword->setText(QStringLiteral("a b&c/\u00e5"));
    QTest::keyClick(ui().txtPassword, Qt::Key_Return);
    window->cmdCopy_Click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("http://203.0.113.5:8080/?key=a%20b%26c%2F%C3%A5"));
    EXPECT_EQ(ui().lblWAN->text(), QStringLiteral("http://203.0.113.5:8080")) << "the label never shows it";
}

TEST_F(MainWindow, TabAndBacktabLeaveTheBanList)
{
    ShowActive();
    ui().tabSettings->setCurrentWidget(ui().pLog);
    ui().txtBan->setPlainText(QString());
    ui().txtBan->setFocus();
    QTest::keyClicks(ui().txtBan, QStringLiteral("10.0.0.1"));
    QTest::keyClick(ui().txtBan, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), ui().txtBan);
    ui().txtBan->setFocus();
    QTest::keyClick(ui().txtBan, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(QApplication::focusWidget(), ui().txtBan);
    EXPECT_EQ(ui().txtBan->toPlainText(), QStringLiteral("10.0.0.1")) << "no tab typed into the list";
}

TEST_F(MainWindow, LabelsShowOutsideTextAsPlainCharacters)
{
    for (QLabel *label : window->findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    // 100 KB of nested tables took the text layout into a stack overflow.
    QString tables;
    for (int i = 0; i < 8000; ++i)
        tables += QStringLiteral("<table><tr><td>");
    ui().lblWAN->setText(tables);
    ShowActive();
    EXPECT_FALSE(ui().lblWAN->grab().isNull());
}

TEST(MainWindowStart, ACameraThatCannotStartEndsTheProgram)
{
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    qputenv("VORSK_CAMERA", "/dev/no-such-camera");
    QString shown;
    WhenDialogOpens([&](QWidget &dialog) {
        shown = static_cast<QMessageBox &>(dialog).text();
        static_cast<QMessageBox &>(dialog).accept();
    });
    frmMain window;
    EXPECT_FALSE(window.Form_Load());
    EXPECT_EQ(shown, QStringLiteral("Could not start camera.\nMake sure its connected and try again."));
    EXPECT_FALSE(window.Tmr1().isActive()) << "no picture is taken while the failure is shown or after";
    qputenv("VORSK_CAMERA", "test");
}

TEST_F(MainWindow, StartServesThePictureAndStopTellsTheTruth)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
    const QString busyPort = QString::number(probe.serverPort());
    ui().txtIPServer->clear(); // no address lookup
    ui().txtPort->setText(busyPort);
    QString warning;
    WhenDialogOpens([&](QWidget &dialog) {
        warning = static_cast<QMessageBox &>(dialog).text();
        static_cast<QMessageBox &>(dialog).accept();
    });
    window->cmdStart_Click();
    EXPECT_TRUE(warning.startsWith(QStringLiteral("Could not listen on port ") + busyPort + QLatin1Char(':')));
    EXPECT_TRUE(ui().cmdStart->isEnabled()) << "a server that could not listen is not started";
    EXPECT_FALSE(window->ServerRunning());

    probe.close();
    window->cmdStart_Click();
    EXPECT_FALSE(ui().cmdStart->isEnabled());
    EXPECT_TRUE(ui().cmdStop->isEnabled() && ui().cmdPreview->isEnabled());
    EXPECT_TRUE(ui().lblWAN->isVisibleTo(window.get()) && ui().cmdCopy->isVisibleTo(window.get()));
    EXPECT_EQ(ui().lblWAN->text(), QStringLiteral("Outside address unknown")) << "no lookup: no address known";
    EXPECT_EQ(window->Tray().ToolTip(), QStringLiteral("Vorsk Server is broadcasting"));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(busyPort.toInt()));
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 3000));
    const QByteArray answer = client.readAll();
    EXPECT_TRUE(answer.startsWith("\xFF\xD8")) << "the JPEG, without a header";
    QFile published(Tools().RetSysDir(LDV_TempFolder) + window->JpgFile());
    ASSERT_TRUE(published.open(QIODevice::ReadOnly));
    EXPECT_TRUE(answer == published.readAll()) << "the picture just written, from memory";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ui().txtLog->toPlainText().startsWith(QStringLiteral("Accepted connection from: 127.0.0.1")); }, 3000));
    EXPECT_TRUE(window->Tmr1().isActive()) << "the request re-armed the capture timer";

    window->tmrUptime_Timer();
    EXPECT_EQ(ui().lblUptime->text(), QStringLiteral("0 Days 0 Hours 0 Minutes 1 Secs "));
    window->cmdStop_Click();
    EXPECT_TRUE(ui().cmdStart->isEnabled());
    EXPECT_FALSE(window->Tray().bRunningInTray());
    window->cmdStart_Click();
    window->tmrUptime_Timer();
    EXPECT_EQ(ui().lblUptime->text(), QStringLiteral("0 Days 0 Hours 0 Minutes 1 Secs ")) << "each run counts from 0";
    window->cmdStop_Click();
}

TEST_F(MainWindow, TheLogShowsTheLatestConnectionWithoutRedrawingForEach)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    ui().txtIPServer->clear();
    ui().txtPort->setText(QString::number(port));
    ui().chkSavelog->setChecked(true);
    window->cmdStart_Click();
    ASSERT_FALSE(ui().cmdStart->isEnabled());
    int redraws = 0;
    QObject::connect(ui().txtLog, &QPlainTextEdit::textChanged, [&] { ++redraws; });
    const int peers = 20;
    for (int i = 2; i < 2 + peers; ++i) {
        QTcpSocket client;
        client.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(i)));
        client.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write("GET / HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(client.waitForDisconnected(3000));
    }
    const QString latest = QStringLiteral("Accepted connection from: 127.0.0.%1").arg(peers + 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui().txtLog->toPlainText().trimmed() == latest; }, 3000))
        << qPrintable(ui().txtLog->toPlainText());
    EXPECT_LT(redraws, peers / 2) << "the box is laid out anew for each connection";
    EXPECT_EQ(FileContents(Folder() + QStringLiteral("vorsk/default.log")).count(" Accepted connection from: 127.0.0."),
              peers) << "the log file has every line";
    window->cmdStop_Click();
}

TEST_F(MainWindow, QualityLabelFollowsTheSlider)
{
    ui().Slider1->setValue(100);
    EXPECT_EQ(ui().lblQuality->text(), QStringLiteral("100%"));
    ui().Slider1->setValue(0);
    EXPECT_EQ(ui().lblQuality->text(), QStringLiteral("0%"));
}

TEST_F(MainWindow, ClosingWhileServingAsksFirst)
{
    ShowActive();
    ui().cmdStart->setEnabled(false); // as while the server runs
    ui().txtPort->setText(QStringLiteral("8081"));

    QString question;
    WhenDialogOpens([&](QWidget &dialog) {
        auto &box = static_cast<QMessageBox &>(dialog);
        question = box.text();
        box.button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(question, QStringLiteral("Are you sure you want to quit\nthis program while the server is running?"));
    EXPECT_FALSE(QFile::exists(SettingsFile()));

    PressMessageBoxButton(QMessageBox::Yes);
    EXPECT_TRUE(window->close());
    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("prefs/port")).toString(), QStringLiteral("8081"));
}

TEST_F(MainWindow, TheSystemEndingSavesWithoutAsking)
{
    ShowActive();
    ui().cmdStart->setEnabled(false);
    ui().txtIntvl->setText(QStringLiteral("9"));
    bool asked = false;
    WhenDialogOpens([&](QWidget &dialog) {
        asked = true;
        static_cast<QMessageBox &>(dialog).button(QMessageBox::No)->click();
    });
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, window.get(), &frmMain::EndBySystem);
    std::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 5000));
    QApplication::processEvents();
    EXPECT_FALSE(asked);
    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("prefs/interval")).toString(), QStringLiteral("9"));
}

TEST_F(MainWindow, TheSystemEndingWinsOverAnOpenQuestion)
{
    ShowActive();
    ui().cmdStart->setEnabled(false);
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, window.get(), &frmMain::EndBySystem);
    WhenDialogOpens([](QWidget &) { std::raise(SIGTERM); });
    window->close();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(QFile::exists(SettingsFile()));
}

TEST_F(MainWindow, FontPickIsLimitedAndCancelChangesNothing)
{
    const QFont before = ui().pfg->font();
    const auto beforeColour = ui().pfg->BackColor();
    QObject::connect(&window->HookDialog(), &cCommonDialog::InitDialog, window.get(), [](QDialog *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("txtSize"))->setValue(12);
        dialog->reject();
    });
    ui().cmdSelectFont->click();
    EXPECT_EQ(ui().pfg->font(), before);
    EXPECT_EQ(ui().pfg->BackColor(), beforeColour);

    QObject::disconnect(&window->HookDialog(), &cCommonDialog::InitDialog, nullptr, nullptr);
    QObject::connect(&window->HookDialog(), &cCommonDialog::InitDialog, window.get(), [](QDialog *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("txtSize"))->setValue(12);
        dialog->accept();
    });
    ui().cmdSelectFont->click();
    EXPECT_DOUBLE_EQ(ui().pfg->font().pointSizeF(), 10.0) << "sizes stop at 10 points";
}

TEST_F(MainWindow, ColourPickCancelKeepsTheSwatch)
{
    ui().pbg->setBackColor(0x00112233);
    QObject::connect(&window->HookDialog(), &cCommonDialog::InitDialog, window.get(),
                     [](QDialog *dialog) { dialog->reject(); });
    window->PickColor(*ui().pbg);
    EXPECT_EQ(ui().pbg->BackColor(), 0x00112233u);
}

TEST_F(MainWindow, TrayIconRestoresTheWindowOnlyWhileItIsThere)
{
    clsTray &tray = window->Tray();
    window->Form_MouseMove(WM_RBUTTONUP);
    EXPECT_FALSE(window->MainMenu().isVisible()) << "no icon, no menu";

    tray.ShowIcon(*window);
    EXPECT_TRUE(tray.bRunningInTray());
    EXPECT_EQ(tray.ToolTip(), QStringLiteral(" Vorsk Server"));
    tray.ChangeToolTip(*window, QString(70, QLatin1Char('x')));
    EXPECT_EQ(tray.ToolTip().size(), 64);
    tray.ChangeToolTip(*window, QStringLiteral("Vorsk Server is broadcasting"));
    EXPECT_EQ(tray.ToolTip(), QStringLiteral("Vorsk Server is broadcasting"));

    window->hide();
    window->Form_MouseMove(WM_LBUTTONUP);
    EXPECT_FALSE(window->isVisible()) << "a single click does nothing";
    window->Form_MouseMove(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());

    window->hide();
    window->Form_MouseMove(WM_RBUTTONUP);
    ASSERT_TRUE(window->MainMenu().isVisible());
    window->MainMenu().actions().value(0)->trigger();
    window->MainMenu().hide();
    EXPECT_TRUE(window->isVisible());

    window->hide();
    tray.RemoveIcon(*window);
    EXPECT_FALSE(tray.bRunningInTray());
    EXPECT_TRUE(window->isVisible()) << "removing the icon brings the window back";
    tray.ChangeToolTip(*window, QStringLiteral("late"));
    EXPECT_NE(tray.ToolTip(), QStringLiteral("late"));
}

// A Swedish library, registered as an installer registers it, gives the
// headers box its Swedish caption. The program keeps the first wording library
// it loads, so the window is made in a process of its own.
TEST_F(SettingsHome, TheHeadersBoxSpeaksTheLibrarysLanguage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
    ASSERT_TRUE(RegisterComponent(ComponentRegistryFile(), CLSID_cResource, VORSKRES_SV_LIBRARY));
    EXPECT_EXIT(
        {
            frmMain window;
            const bool loaded = window.Form_Load();
            const QString captions = window.Controls().chkHeaders->text() + QLatin1Char('|') +
                                     window.Controls().cmdHelp->text() + QLatin1Char('|');
            std::fputs(captions.toUtf8().constData(), stderr);
            std::_Exit(loaded ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "Skicka HTTP-huvuden \\(alla portar, alla webbläsare\\)\\|&Hjälp\\|");
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

// Stopping the server and ending the program while the capture thread
// encodes large pictures, for a viewer of the live stream and a snapshot:
// no crash, and the settings are written every time.
TEST_F(SettingsHome, StopAndQuitWhileAPictureIsEncoded)
{
    qputenv("VORSK_CAMERA", "gst:videotestsrc is-live=true ! video/x-raw,width=1920,height=1080,framerate=30/1");
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    WriteSettings(QStringLiteral("[prefs]\nport=%1\nwidth=1920\nheight=1080\ninterval=0.001\n[server]\nheaders=True\n")
                      .arg(port));
    for (int round = 0; round < 8; ++round) {
        auto window = std::make_unique<frmMain>();
        ASSERT_TRUE(window->Form_Load());
        window->cmdStart_Click();
        QTcpSocket viewer;
        viewer.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(viewer.waitForConnected(2000));
        viewer.write("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.bytesAvailable() > 0; }, 5000)) << round;
        window->tmr1_Timer();
        QTest::qWait(round * 13 % 40);
        if (round % 2 == 0)
            window->cmdStop_Click();
        const QString caption = QStringLiteral("round %1").arg(round);
        window->Controls().txtOnImage->setText(caption);
        window->EndBySystem();
        window.reset();
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        EXPECT_EQ(stored.value(QStringLiteral("prefs/imagetext")).toString(), caption);
    }
    qunsetenv("VORSK_CAMERA");
}

// The camera's dialogs carry the wording's titles; the resolution dialog
// gives each size the frame rates the camera offers it at, and none where
// the source takes any rate (the test pattern).
TEST_F(SettingsHome, TheCameraDialogsHaveTitlesAndRealFrameRates)
{
    const std::pair<const char *, QStringList> cameras[] = {
        {"gst:videotestsrc ! video/x-raw,width=320,height=240,framerate=[5/1,30/1]",
         {QStringLiteral("320 x 240  (5-30 fps)")}},
        {"gst:videotestsrc ! video/x-raw,width=320,height=240,framerate=15/2", {QStringLiteral("320 x 240  (7.5 fps)")}},
        {"test", {}},
    };
    for (const auto &[camera, expected] : cameras) {
        qputenv("VORSK_CAMERA", camera);
        frmMain window;
        ASSERT_TRUE(window.Form_Load()) << camera;
        QString title;
        QStringList items;
        auto look = [&](QWidget &dialog) {
            title = dialog.windowTitle();
            if (auto *input = qobject_cast<QInputDialog *>(&dialog))
                items = input->comboBoxItems();
            static_cast<QDialog &>(dialog).reject();
        };
        WhenDialogOpens(look);
        window.Controls().cmdChangeRes->click();
        EXPECT_EQ(title, QStringLiteral("Camera resolution"));
        ASSERT_FALSE(items.isEmpty()) << camera;
        if (expected.isEmpty())
            EXPECT_FALSE(items.join(QLatin1Char('|')).contains(QStringLiteral("fps"))) << items.join('|').toStdString();
        else
            EXPECT_EQ(items, expected);
        title.clear();
        WhenDialogOpens(look);
        window.Controls().cmdDevice->click();
        EXPECT_EQ(title, QStringLiteral("Camera source"));
    }
}

// A new password holds once the owner is done with the box: while a new one is
// typed, or the box emptied, the one before holds. Preview and a click on the
// outside address give the browser a page in the private folder that leads to
// the keyed link, so the key is on no command line, which every local user can read.
TEST_F(MainWindow, ThePasswordHoldsOnceTheBoxIsLeftAndReachesTheBrowserPrivately)
{
    ui().txtIPServer->clear();
    ui().txtPort->setText(QStringLiteral("0"));
    ui().txtPassword->setText(QStringLiteral("old"));
    QTest::keyClick(ui().txtPassword, Qt::Key_Return);
    window->cmdStart_Click();
    const quint16 port = quint16(window->Server().ListeningPort());
    auto served = [port](const QByteArray &key) {
        return Fetch(port, "GET /?key=" + key + "\r\n").startsWith("\xFF\xD8");
    };
    ui().txtPassword->setText(QStringLiteral("ne"));
    EXPECT_TRUE(served("old"));
    EXPECT_FALSE(served("ne")) << "half typed";
    ui().txtPassword->clear();
    EXPECT_FALSE(served("")) << "an emptied box opens the camera to no one";
    QTest::keyClicks(ui().txtPassword, QStringLiteral("s3cret"));
    QTest::keyClick(ui().txtPassword, Qt::Key_Return);
    EXPECT_TRUE(served("s3cret"));
    EXPECT_FALSE(served("old"));

    OpenedUrls opened;
    ui().txtPort->setText(QStringLiteral("8080"));
    ui().lblWAN->setProperty("Tag", QStringLiteral("http://203.0.113.5"));
    window->RenewWANAddress();
    const std::pair<void (frmMain::*)(), QByteArray> clicks[] = {
        {&frmMain::cmdPreview_Click, "url=http://127.0.0.1:8080/?key=s3cret"},
        {&frmMain::lblWAN_MouseUp, "url=http://203.0.113.5:8080/?key=s3cret"}};
    for (const auto &[click, link] : clicks) {
        opened.urls.clear();
        (window.get()->*click)();
        ASSERT_EQ(opened.urls.size(), 1);
        const QUrl url = opened.urls.constFirst();
        EXPECT_FALSE(url.toString().contains(QStringLiteral("s3cret"))) << url.toString().toStdString();
        EXPECT_TRUE(url.toLocalFile().startsWith(Tools().RetSysDir(LDV_TempFolder))) << "the private folder";
        EXPECT_TRUE(FileContents(url.toLocalFile()).contains(link)) << link.toStdString();
    }
    window->cmdStop_Click();
}

#include "test_frmMain.moc"
