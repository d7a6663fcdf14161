#include "cDIB.h"
#include "mJPEGLib.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

struct Decoded
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;

    QRgb Pixel(int x, int y) const
    {
        const unsigned char *p = &rgb[std::size_t(y * width + x) * 3];
        return qRgb(p[0], p[1], p[2]);
    }
};

Decoded Decode(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    tjhandle decoder = tjInitDecompress();
    Decoded result;
    int subsampling = 0;
    auto *data = reinterpret_cast<unsigned char *>(bytes.data());
    if (tjDecompressHeader2(decoder, data, bytes.size(), &result.width, &result.height, &subsampling) == 0) {
        result.rgb.resize(std::size_t(result.width) * result.height * 3);
        if (tjDecompress2(decoder, data, bytes.size(), result.rgb.data(), result.width, 0, result.height,
                          TJPF_RGB, 0) != 0)
            result = {};
    }
    tjDestroy(decoder);
    return result;
}

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 &&
           std::abs(qBlue(a) - qBlue(b)) < 24;
}

// A 173 x 127 picture (rows padded) that shows both orientation and shear:
// red on top, blue below, and a green bar down columns 80 to 95.
void MakeTestPicture(cDIB &dib)
{
    QImage picture(173, 127, QImage::Format_RGB32);
    picture.fill(qRgb(220, 0, 0));
    for (int y = 64; y < 127; ++y)
        for (int x = 0; x < 173; ++x)
            picture.setPixel(x, y, qRgb(0, 0, 220));
    for (int y = 0; y < 127; ++y)
        for (int x = 80; x < 96; ++x)
            picture.setPixel(x, y, qRgb(0, 220, 0));
    dib.CreateFromPicture(picture);
}

// The test picture and a folder to write it into, fresh for every test.
class JpegFile : public ::testing::Test
{
protected:
    void SetUp() override { MakeTestPicture(dib); }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cam.jpg"));
    cDIB dib;
};

} // namespace

TEST_F(JpegFile, WritesAnUprightUnshearedPicture)
{
    ASSERT_TRUE(WriteJpegFile(dib, path, 90));

    const Decoded image = Decode(path);
    ASSERT_EQ(image.width, 173);
    ASSERT_EQ(image.height, 127);
    for (int y : {2, 60, 70, 124}) {
        const QRgb background = y < 64 ? qRgb(220, 0, 0) : qRgb(0, 0, 220);
        EXPECT_TRUE(Near(image.Pixel(10, y), background)) << y;
        EXPECT_TRUE(Near(image.Pixel(88, y), qRgb(0, 220, 0))) << y;
        EXPECT_TRUE(Near(image.Pixel(160, y), background)) << y;
    }

    // The quality goes to the encoder as it is.
    const QString small = dir.filePath(QStringLiteral("small.jpg"));
    ASSERT_TRUE(WriteJpegFile(dib, small, 3));
    EXPECT_LT(FileContents(small).size(), FileContents(path).size());
}

TEST_F(JpegFile, ReplacingKeepsTheOldFilesModeAndTimes)
{
    ASSERT_TRUE(WriteJpegFile(dib, path, 70));
    const QByteArray first = FileContents(path);
    const QByteArray path8 = path.toLocal8Bit();
    ASSERT_EQ(chmod(path8.constData(), 0640), 0);
    const timespec stamps[2] = {{1'500'000'000, 0}, {1'600'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path8.constData(), stamps, 0), 0);

    ASSERT_TRUE(WriteJpegFile(dib, path, 20));
    struct stat info{};
    ASSERT_EQ(stat(path8.constData(), &info), 0);
    EXPECT_NE(FileContents(path), first);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_atim.tv_sec, 1'500'000'000);
    EXPECT_EQ(info.st_mtim.tv_sec, 1'600'000'000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary left";
}

TEST_F(JpegFile, AFailedWriteLeavesThePreviousPicture)
{
    ASSERT_TRUE(WriteJpegFile(dib, path, 70));
    const QByteArray before = FileContents(path);

    cDIB emptied;
    MakeTestPicture(emptied);
    emptied.ClearUp();
    EXPECT_FALSE(WriteJpegFile(emptied, path, 70));
    EXPECT_EQ(FileContents(path), before);

    EXPECT_FALSE(WriteJpegFile(dib, dir.filePath(QStringLiteral("missing/cam.jpg")), 70));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("missing"))));

    // A folder that cannot be written keeps its picture (root may write anyway).
    if (geteuid() != 0) {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_FALSE(WriteJpegFile(dib, path, 20));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(FileContents(path), before);
    }
}

TEST_F(JpegFile, ALinkAtThePathIsReplacedNotFollowed)
{
    const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    ASSERT_TRUE(QFile::link(target, path));
    ASSERT_TRUE(WriteJpegFile(dib, path, 70));
    EXPECT_EQ(FileContents(target), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(Decode(path).width, 173);
}
