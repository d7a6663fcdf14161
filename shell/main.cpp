#include <QApplication>
#include <QLabel>

#include "mLanguage.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vorsk"));
    QApplication::setApplicationName(QStringLiteral("Vorsk"));
    if (const int status = CheckWording())
        return status;
    QLabel window(QStringLiteral(" Vorsk Server"));
    window.setWindowTitle(QStringLiteral(" Vorsk Server"));
    window.resize(353, 388);
    window.show();
    return app.exec();
}
