#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vorsk"));
    QApplication::setApplicationName(QStringLiteral("Vorsk"));
    QLabel window(QStringLiteral(" Vorsk Server"));
    window.setWindowTitle(QStringLiteral(" Vorsk Server"));
    window.resize(353, 388);
    window.show();
    return app.exec();
}
