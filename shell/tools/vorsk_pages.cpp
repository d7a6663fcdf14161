// Renders each page of the main window to a PNG file, without a display:
//   QT_QPA_PLATFORM=offscreen vorsk_pages <folder>
#include "frmMain.h"
#include "mLanguage.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorsk_pages <folder>\n");
        return 2;
    }
    if (const int status = CheckWording())
        return status;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    frmMain window;
    if (!window.Form_Load())
        return 1;
    window.show();
    const char *names[] = {"status", "settings", "image", "log", "about"};
    QTabWidget &tabs = *window.Controls().tabSettings;
    for (int i = 0; i < tabs.count(); ++i) {
        tabs.setCurrentIndex(i);
        app.processEvents();
        const QString file = folder.filePath(QStringLiteral("page-%1.png").arg(QString::fromLatin1(names[i])));
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "vorsk_pages: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
