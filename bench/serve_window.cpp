// The real program's window, offscreen, serving its own pictures, for the load
// comparison (bench/compare_nginx):
//   serve_window <port> <width> <height> <quality> <maxcon> [headers]
// ("headers": HTTP/1.1 answers with a status line and header fields)
// Run it with QT_QPA_PLATFORM=offscreen, VORSK_CAMERA=test and a settings
// folder of its own (XDG_CONFIG_HOME): the window saves its settings at the end.
#include "cSystemEnd.h"
#include "frmMain.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vorsk"));
    QApplication::setApplicationName(QStringLiteral("Vorsk"));
    if (argc != 6 && !(argc == 7 && QByteArray(argv[6]) == "headers")) {
        std::fprintf(stderr, "usage: serve_window <port> <width> <height> <quality> <maxcon> [headers]\n");
        return 2;
    }
    frmMain window;
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, &window, &frmMain::EndBySystem);
    if (!window.Form_Load())
        return 1;
    Ui::frmMain &ui = window.Controls();
    ui.txtIPServer->clear(); // no address lookup
    ui.txtPort->setText(QString::fromLocal8Bit(argv[1]));
    ui.txtWidth->setText(QString::fromLocal8Bit(argv[2]));
    ui.txtHeight->setText(QString::fromLocal8Bit(argv[3]));
    ui.Slider1->setValue(QString::fromLocal8Bit(argv[4]).toInt());
    ui.txtMaxCon->setText(QString::fromLocal8Bit(argv[5]));
    ui.chkHeaders->setChecked(argc == 7);
    // One picture of that size, kept through the run: the byte count the
    // load program checks stays the same.
    ui.txtIntvl->setText(QStringLiteral("100000"));
    window.CaptureTick();
    window.CaptureThread().Wait();
    window.show();
    window.cmdStart_Click();
    if (ui.cmdStart->isEnabled())
        return 1;
    return app.exec();
}
