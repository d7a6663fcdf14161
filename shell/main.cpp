#include "cHeadless.h"
#include "cSystemEnd.h"
#include "cWebServer.h"
#include "frmMain.h"
#include "mCommandLine.h"
#include "mLanguage.h"
#include "mPrivateFolder.h"
#include "mToolkitLanguage.h"

#include <QApplication>
#include <QFile>

namespace {

void SetNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vorsk"));
    QCoreApplication::setApplicationName(QStringLiteral("Vorsk"));
}

int RunWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    RaiseDescriptorLimit();
    SetNames();
    // No display name: the desktop would append it to every window title, and
    // the program's boxes carry their own ("Vorsk", the window's " Vorsk Server").
    QApplication::setDesktopFileName(QStringLiteral("org.vorsk.Vorsk"));
    if (const int status = CheckWording())
        return status;
    const auto toolkitWording = LoadToolkitTranslation(WordingLanguage());

    frmMain window;
    // A window hidden in the notification area is no last window to close:
    // the program ends with the window's unloading, in every window state.
    QObject::connect(&window, &frmMain::Unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, &window, &frmMain::EndBySystem);
    // The window's settings are its controls: a hang-up (its terminal closed) ends it.
    QObject::connect(&systemEnd, &cSystemEnd::HangUp, &window, &frmMain::EndBySystem);
    if (!window.Form_Load())
        return 1;
    window.show();
    return app.exec();
}

int RunHeadless(int argc, char *argv[])
{
    // The caption is drawn with the system's fonts, which need a platform;
    // the off-screen one needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt looks into the user's runtime folder as it starts and warns where
    // there is none, as in a service; this run's private folder is one.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        if (const QString folder = PrivateTempFolder(); !folder.isEmpty())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    QGuiApplication app(argc, argv);
    RaiseDescriptorLimit();
    SetNames();
    if (const int status = CheckWording())
        return status;
    cHeadless server;
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, &app, [&server] {
        server.Stop();
        QCoreApplication::quit();
    });
    QObject::connect(&systemEnd, &cSystemEnd::HangUp, &server, &cHeadless::Reload);
    if (!server.Start())
        return 1;
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before any application object: help, version and a wrong option
    // need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto options = ReadCommandLine(arguments);
    if (const int *status = std::get_if<int>(&options))
        return *status;
    const CommandLine &commandLine = std::get<CommandLine>(options);
    UseCommandLine(commandLine);
    const int status = commandLine.bHeadless ? RunHeadless(argc, argv) : RunWindow(argc, argv);
    // The pictures of this run go with it, also after a start that failed.
    RemovePrivateTempFolder();
    return status;
}
