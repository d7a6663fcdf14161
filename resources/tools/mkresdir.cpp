// mkresdir <wording.txt> <logo.bmp> <out.cpp>: writes the library's resource directory.

#include "mWording.h"

#include <QFile>
#include <QSaveFile>
#include <cstdio>

namespace {

constexpr std::uint16_t LogoID = 101;
constexpr int LogoWidth = 309;
constexpr int LogoHeight = 75;
constexpr qint64 MaxInputSize = 16 * 1024 * 1024;

int Fail(const QString &file, const QString &reason)
{
    std::fprintf(stderr, "mkresdir: %s: %s\n", qPrintable(file), qPrintable(reason));
    return 1;
}

std::optional<QByteArray> ReadInput(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxInputSize) {
        *error = file.isOpen() ? QStringLiteral("file too large") : file.errorString();
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mkresdir <wording.txt> <logo.bmp> <out.cpp>\n");
        return 2;
    }
    const QString wordingPath = QString::fromLocal8Bit(argv[1]);
    const QString logoPath = QString::fromLocal8Bit(argv[2]);
    const QString outPath = QString::fromLocal8Bit(argv[3]);

    QString error;
    const std::optional<QByteArray> wordingFile = ReadInput(wordingPath, &error);
    if (!wordingFile)
        return Fail(wordingPath, error);
    const std::optional<Wording> wording = ParseWording(*wordingFile, &error);
    if (!wording)
        return Fail(wordingPath, error);
    const std::optional<QByteArray> logoFile = ReadInput(logoPath, &error);
    if (!logoFile)
        return Fail(logoPath, error);
    const std::optional<Bytes> logo =
        BitmapResourceFromFile(*logoFile, LogoWidth, LogoHeight, &error);
    if (!logo)
        return Fail(logoPath, error);

    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly)
        || out.write(ResourceDirectorySource(BuildStringBlocks(wording->Texts), *logo, LogoID,
                                             wording->Language))
               < 0
        || !out.commit())
        return Fail(outPath, out.errorString());
    return 0;
}
