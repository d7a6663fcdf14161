// The program's web server alone, serving one picture file, for the load
// benchmark (bench/compare_nginx): serve_picture <port> <picture file> [maxcon] [headers]
// ("headers": HTTP/1.1 answers with a status line and header fields)
#include "cWebServer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    RaiseDescriptorLimit();
    if (argc < 3) {
        std::fprintf(stderr, "usage: serve_picture <port> <picture file> [maxcon] [headers]\n");
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[1]);
    const QString picture = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    const QString maxcon = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("200");
    ServerWindow window = PictureOnlyWindow(port, picture, maxcon);
    const bool headers = argc > 4 && QByteArray(argv[4]) == "headers";
    window.chkHeaders = [headers] { return headers; };
    cWebServer server(std::move(window));
    if (!server.StartServer(QString())) {
        std::fprintf(stderr, "serve_picture: %s\n", qPrintable(server.ListenError()));
        return 1;
    }
    QTimer timeout;
    QObject::connect(&timeout, &QTimer::timeout, &server, &cWebServer::tmtTimeout_Timer);
    timeout.start(1000);
    return app.exec();
}
