#include "ProgramRun.h"

namespace {

// The body of one HTTP/1.1 answer; the server closes after it.
QByteArray FetchBody(quint16 port)
{
    const QByteArray answer = Fetch(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const qsizetype end = answer.indexOf("\r\n\r\n");
    return answer.startsWith("HTTP/1.1 200") && end >= 0 ? answer.mid(end + 4) : QByteArray();
}

enum class Colour { Red, Blue, Other };

void PrintTo(Colour colour, std::ostream *out)
{
    *out << (colour == Colour::Red ? "red" : colour == Colour::Blue ? "blue" : "neither");
}

// The colour of the picture's top half, away from the caption at its foot.
Colour ColourOf(const QByteArray &jpeg)
{
    QImage picture;
    if (!picture.loadFromData(jpeg, "JPEG") || picture.height() < 4)
        return Colour::Other;
    const QColor pixel = picture.pixelColor(picture.width() / 2, picture.height() / 4);
    if (pixel.red() > 180 && pixel.blue() < 80)
        return Colour::Red;
    if (pixel.blue() > 180 && pixel.red() < 80)
        return Colour::Blue;
    return Colour::Other;
}

} // namespace

class TwoInstances : public ProgramRun
{
protected:
    // One headless instance with a settings file and a camera of its own.
    quint16 StartInstance(QProcess &process, const QString &name, const char *pattern)
    {
        const quint16 port = FreePort();
        const QString config = m_root.filePath(name + QStringLiteral(".conf"));
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[prefs]\nport=%1\ninterval=0.01\nwidth=64\nheight=48\n\n[server]\nheaders=True\n")
                       .arg(port)
                       .toUtf8());
        file.close();
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("VORSK_CAMERA"),
                           QStringLiteral("gst:videotestsrc pattern=%1 is-live=true").arg(QLatin1String(pattern)));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VORSK_EXECUTABLE), {QStringLiteral("--headless"), QStringLiteral("--config"), config});
        EXPECT_TRUE(process.waitForStarted());
        QByteArray out;
        for (int i = 0; i < 100 && !out.contains("serving on port"); ++i) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        EXPECT_TRUE(out.contains("serving on port")) << process.readAllStandardError().toStdString();
        return port;
    }

    QProcess m_second;
};

// Two instances of one user in one temporary folder, each with its own
// settings file and camera: each answers with its own camera's picture only,
// and keeps its files apart from the other's.
TEST_F(TwoInstances, EachPublishesItsOwnPicture)
{
    const quint16 red = StartInstance(m_vorsk, QStringLiteral("red"), "red");
    const quint16 blue = StartInstance(m_second, QStringLiteral("blue"), "blue");
    int wrong = 0, fetched = 0;
    for (int i = 0; i < 300; ++i) {
        for (const auto &[port, colour] : {std::pair{red, Colour::Red}, std::pair{blue, Colour::Blue}}) {
            const Colour seen = ColourOf(FetchBody(port));
            fetched += seen != Colour::Other;
            wrong += seen != colour && seen != Colour::Other;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << fetched;
    EXPECT_GT(fetched, 500);
    // Each keeps its files in a folder of its own.
    EXPECT_EQ(ColourOf(FileContents(PictureOf(m_root.filePath(QStringLiteral("red.conf"))))), Colour::Red);
    EXPECT_EQ(ColourOf(FileContents(PictureOf(m_root.filePath(QStringLiteral("blue.conf"))))), Colour::Blue);
    m_second.terminate();
    m_vorsk.terminate();
    EXPECT_TRUE(m_second.waitForFinished(5000));
    EXPECT_TRUE(m_vorsk.waitForFinished(5000));
}
