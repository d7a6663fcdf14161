#include "cSystemEnd.h"
#include "cWebServer.h"
#include "frmMain.h"
#include "mLanguage.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    RaiseDescriptorLimit();
    QApplication::setOrganizationName(QStringLiteral("Vorsk"));
    QApplication::setApplicationName(QStringLiteral("Vorsk"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vorsk Server"));
    QApplication::setDesktopFileName(QStringLiteral("org.vorsk.Vorsk"));
    if (const int status = CheckWording())
        return status;

    frmMain window;
    cSystemEnd systemEnd;
    QObject::connect(&systemEnd, &cSystemEnd::Ending, &window, &frmMain::EndBySystem);
    if (!window.Form_Load())
        return 1;
    window.show();
    return app.exec();
}
