#include "TestFiles.h"
#include "cDIB.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

// One channel of a pixel in storage order: row 0 is the bottom row.
unsigned char &At(cDIB &dib, int x, int storageRow, int channel)
{
    return dib.DIBSectionBitsPtr()[std::size_t(storageRow) * dib.BytesPerScanLine() + 3 * x + channel];
}

void FillRandom(cDIB &dib, unsigned seed)
{
    std::mt19937 generator(seed);
    const std::size_t size = std::size_t(dib.BytesPerScanLine()) * dib.Height();
    for (std::size_t i = 0; i < size; ++i)
        dib.DIBSectionBitsPtr()[i] = static_cast<unsigned char>(generator());
}

} // namespace

TEST(cDIB, LayoutIsBottomUpBgrWithPaddedRows)
{
    QImage picture(173, 2, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.setPixel(0, 0, qRgb(10, 20, 30));   // top left
    picture.setPixel(172, 1, qRgb(40, 50, 60)); // bottom right

    cDIB dib;
    dib.CreateFromPicture(picture);
    ASSERT_NE(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(dib.BytesPerScanLine(), 520);
    // Bottom row first, blue before green before red.
    EXPECT_EQ(At(dib, 172, 0, 0), 60);
    EXPECT_EQ(At(dib, 172, 0, 1), 50);
    EXPECT_EQ(At(dib, 172, 0, 2), 40);
    EXPECT_EQ(At(dib, 0, 1, 0), 30);
    EXPECT_EQ(At(dib, 0, 1, 2), 10);
    EXPECT_EQ(dib.ToImage().pixel(0, 0), qRgb(10, 20, 30));

    // Any picture format is taken, including those with a palette.
    QImage indexed = picture.convertToFormat(QImage::Format_Indexed8);
    cDIB fromIndexed;
    fromIndexed.CreateFromPicture(indexed);
    EXPECT_EQ(fromIndexed.ToImage().pixel(0, 0), indexed.pixel(0, 0));
    EXPECT_EQ(fromIndexed.ToImage().pixel(172, 1), indexed.pixel(172, 1));
}

TEST(cDIB, EmptyBufferRefusesWorkAndKeepsItsSize)
{
    cDIB dib;
    EXPECT_FALSE(dib.Create(0, 10));
    EXPECT_EQ(dib.hdc(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_FALSE(dib.Create(70000, 70000)); // refused, not allocated
    EXPECT_EQ(dib.Resample(0, 5), nullptr);

    ASSERT_TRUE(dib.Create(4, 3));
    EXPECT_NE(dib.hDib(), 0u);
    dib.ClearUp();
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.Width(), 4);
    EXPECT_EQ(dib.Height(), 3);

    QImage surface(4, 3, QImage::Format_RGB888);
    surface.fill(Qt::white);
    const QImage before = surface.copy();
    dib.PaintPicture(surface);
    EXPECT_EQ(surface, before);
    dib.LoadPictureBlt(surface, 0, 0, -1, -1);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
}

TEST(cDIB, PaintPictureCopiesAndExclusiveOrsWithClipping)
{
    QImage frame(3, 2, QImage::Format_RGB32);
    frame.fill(qRgb(0x0F, 0xF0, 0x33));
    frame.setPixel(2, 1, qRgb(1, 2, 3));
    cDIB dib;
    dib.CreateFromPicture(frame);

    QImage surface(5, 4, QImage::Format_RGB888);
    surface.fill(Qt::white);
    dib.PaintPicture(surface, 1, 1);
    EXPECT_EQ(surface.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(1, 1), qRgb(0x0F, 0xF0, 0x33));
    EXPECT_EQ(surface.pixel(3, 2), qRgb(1, 2, 3));
    EXPECT_EQ(surface.pixel(4, 3), qRgb(255, 255, 255));

    // Exclusive-or onto white inverts; doing it twice gives the white back.
    QImage inverted(3, 2, QImage::Format_RGB888);
    inverted.fill(Qt::white);
    dib.PaintPicture(inverted, 0, 0, -1, -1, 0, 0, SRCINVERT);
    EXPECT_EQ(inverted.pixel(0, 0), qRgb(0xF0, 0x0F, 0xCC));
    EXPECT_EQ(inverted.pixel(2, 1), qRgb(254, 253, 252));
    dib.PaintPicture(inverted, 0, 0, -1, -1, 0, 0, SRCINVERT);
    EXPECT_EQ(inverted.pixel(2, 1), qRgb(255, 255, 255));

    // Rectangles reaching past either surface are clipped, never overrun.
    QImage small(2, 2, QImage::Format_RGB32);
    small.fill(Qt::black);
    dib.PaintPicture(small, -1, 1, 10, 10, 0, 0);
    EXPECT_EQ(small.pixel(0, 1), qRgb(0x0F, 0xF0, 0x33));
    EXPECT_EQ(small.pixel(0, 0), qRgb(0, 0, 0));
    const QImage before = small;
    dib.PaintPicture(small, 5, 5);
    dib.PaintPicture(small, 0, 0, -1, -1, 7, 7);
    EXPECT_EQ(small, before) << "a rectangle outside either surface paints nothing";

    // A greyscale surface is painted through a conversion and keeps its format.
    QImage grey(3, 2, QImage::Format_Grayscale8);
    grey.fill(0);
    dib.PaintPicture(grey);
    EXPECT_EQ(grey.format(), QImage::Format_Grayscale8);
    EXPECT_NE(qGray(grey.pixel(0, 0)), 0);
}

TEST(cDIB, ResampleToTheSameSizeIsAnExactCopy)
{
    cDIB source;
    ASSERT_TRUE(source.Create(173, 127));
    FillRandom(source, 7);
    auto copy = source.Resample(127, 173);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->DIBSectionBitsPtr(), source.DIBSectionBitsPtr());
    for (int row = 0; row < 127; ++row)
        ASSERT_EQ(std::memcmp(copy->DIBSectionBitsPtr() + row * 520, source.DIBSectionBitsPtr() + row * 520, 519), 0);
}

TEST(cDIB, ResampleRoundsHalvesToEvenOnBothAxes)
{
    // A one-pixel-high source scaled 3 -> 4 wide samples at 0, 0.5, 1 and 1.5.
    cDIB row;
    ASSERT_TRUE(row.Create(3, 1));
    for (int x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c)
            At(row, x, 0, c) = static_cast<unsigned char>(12 + x + 100 * (c == 2));
    auto wide = row.Resample(1, 4);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(At(*wide, 0, 0, 0), 12);
    EXPECT_EQ(At(*wide, 1, 0, 0), 12); // 12.5
    EXPECT_EQ(At(*wide, 2, 0, 0), 13);
    EXPECT_EQ(At(*wide, 3, 0, 0), 14); // 13.5
    EXPECT_EQ(At(*wide, 3, 0, 2), 114);

    // The same along a one-pixel-wide column, in storage rows.
    cDIB column;
    ASSERT_TRUE(column.Create(1, 3));
    for (int y = 0; y < 3; ++y)
        At(column, 0, y, 1) = static_cast<unsigned char>(12 + y);
    auto tall = column.Resample(4, 1);
    ASSERT_NE(tall, nullptr);
    EXPECT_EQ(At(*tall, 0, 1, 1), 12);
    EXPECT_EQ(At(*tall, 0, 3, 1), 14);

    // Vertical first, then horizontal: left = round(0.5) = 0, right = 1,
    // value = round(0.5) = 0. Horizontal first would give 1.
    cDIB square;
    ASSERT_TRUE(square.Create(3, 3));
    At(square, 0, 1, 0) = 1;
    At(square, 1, 1, 0) = 2;
    auto scaled = square.Resample(4, 4);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(At(*scaled, 1, 1, 0), 0);
}

TEST(cDIB, ResampleMapsTheLastColumnJustShortOfTheSourceEdge)
{
    cDIB source;
    ASSERT_TRUE(source.Create(320, 240));
    FillRandom(source, 11);
    for (int y = 0; y < 240; ++y) {
        At(source, 316, y, 0) = 100;
        At(source, 317, y, 0) = 0;
        At(source, 318, y, 0) = 255;
        At(source, 319, y, 0) = 100;
    }
    auto scaled = source.Resample(127, 173);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->BytesPerScanLine(), 520);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(At(*scaled, 0, 0, c), At(source, 0, 0, c));
    // xF = 172 * 319/173 = 317.156...: 0.844 * 0 + 0.156 * 255 = 39.8.
    EXPECT_EQ(At(*scaled, 172, 0, 0), 40);

    auto dot = source.Resample(1, 1);
    ASSERT_NE(dot, nullptr);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(At(*dot, 0, 0, c), At(source, 0, 0, c)); // the bottom-left pixel
}

TEST(cDIB, RandomiseBitsFollowsTheGreyAndColourRules)
{
    cDIB dib;
    ASSERT_TRUE(dib.Create(16, 16));
    dib.RandomiseBits(true);
    bool varied = false;
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(At(dib, x, 3, 0), At(dib, x, 3, 1));
        EXPECT_EQ(At(dib, x, 3, 1), At(dib, x, 3, 2));
        varied |= At(dib, x, 3, 0) != At(dib, 0, 3, 0);
    }
    EXPECT_TRUE(varied);
    dib.RandomiseBits(false);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(At(dib, x, 5, 0), 0);
}

TEST(cDIB, CopyToClipboardAsDibOnlyExplains)
{
    cDIB dib;
    ASSERT_TRUE(dib.Create(8, 8));
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("kept"));

    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(dib.CopyToClipboard(true));
    EXPECT_EQ(shown, QStringLiteral("I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"));
    EXPECT_EQ(clipboard->text(), QStringLiteral("kept"));

    EXPECT_TRUE(dib.CopyToClipboard(false));
    EXPECT_EQ(clipboard->image().size(), QSize(8, 8));
}

namespace {

// The scaling rule written out plainly, one channel at a time, for comparison
// with the fast scaler on larger pictures.
unsigned char ReferenceSample(cDIB &source, int x, int y, int channel, int destWidth, int destHeight)
{
    // Every stored result is single precision; the arithmetic before it is not.
    const float xScale = float(double(source.Width() - 1) / destWidth);
    const float yScale = float(double(source.Height() - 1) / destHeight);
    const float yF = float(double(yScale) * y), xF = float(double(xScale) * x);
    const int yI = int(yF), xI = int(xF);
    const float yD = float(double(yF) - yI), xD = float(double(xF) - xI);
    auto pixel = [&](int px, int py) -> double {
        return px < source.Width() && py < source.Height() ? At(source, px, py, channel) : 0.0;
    };
    const double left = std::nearbyint((1.0 - double(yD)) * pixel(xI, yI) + double(yD) * pixel(xI, yI + 1));
    const double right = std::nearbyint((1.0 - double(yD)) * pixel(xI + 1, yI) + double(yD) * pixel(xI + 1, yI + 1));
    return static_cast<unsigned char>(std::clamp(std::nearbyint((1.0 - double(xD)) * left + double(xD) * right), 0.0, 255.0));
}

} // namespace

TEST(cDIB, ResampleMatchesThePlainRuleUpAndDown)
{
    struct Case
    {
        int w0, h0, w1, h1;
    };
    for (const Case &c : {Case{320, 240, 173, 127}, Case{97, 61, 250, 190}, Case{1, 40, 9, 7}, Case{33, 1, 5, 70}}) {
        cDIB source;
        ASSERT_TRUE(source.Create(c.w0, c.h0));
        FillRandom(source, unsigned(c.w0 * 1000 + c.h1));
        auto scaled = source.Resample(c.h1, c.w1);
        ASSERT_NE(scaled, nullptr);
        int mismatches = 0;
        for (int y = 0; y < c.h1; ++y)
            for (int x = 0; x < c.w1; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    mismatches += At(*scaled, x, y, ch) != ReferenceSample(source, x, y, ch, c.w1, c.h1);
        EXPECT_EQ(mismatches, 0) << c.w0 << "x" << c.h0 << " -> " << c.w1 << "x" << c.h1;
    }
}

TEST(cDIB, ARefusedSizeLeavesTheBufferAsItWas)
{
    cDIB dib;
    ASSERT_TRUE(dib.Create(4, 3));
    const unsigned char *bits = dib.DIBSectionBitsPtr();
    std::uintptr_t hDib = 1;
    for (auto [width, height] : {std::pair{0, 5}, std::pair{-4, 3}, std::pair{65501, 1}, std::pair{8193, 8192},
                                 std::pair{18000, 18000}, std::pair{70000, 70000}}) {
        EXPECT_FALSE(dib.CreateDIB(0, width, height, hDib)) << width << " x " << height;
        EXPECT_EQ(hDib, 0u);
        EXPECT_EQ(dib.DIBSectionBitsPtr(), bits);
        EXPECT_EQ(dib.Width(), 4);
        EXPECT_EQ(dib.Height(), 3);
        EXPECT_EQ(dib.BytesPerScanLine(), 12);
    }
    EXPECT_TRUE(cDIB::SizeAllowed(65500, 1));
    EXPECT_TRUE(cDIB::SizeAllowed(8192, 8192));
    EXPECT_TRUE(cDIB::SizeAllowed(9152, 6944)) << "a 64-megapixel camera";

    cDIB empty;
    EXPECT_EQ(empty.Resample(10, 10), nullptr) << "nothing to scale, not a black picture";
}

TEST(cDIB, BitmapFilesGoOutAndComeBackWhole)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("frame.bmp"));
    cDIB dib;
    ASSERT_TRUE(dib.Create(173, 5)); // rows padded by one byte
    dib.RandomiseBits(false);
    ASSERT_EQ(dib.WriteBitmapFile(path), 0);
    // Qt's reader sees what any program sees in the file.
    const QImage read(path, "BMP");
    EXPECT_EQ(read.convertToFormat(QImage::Format_BGR888), dib.ToImage());
    cDIB back;
    ASSERT_TRUE(back.CreateFromBitmapFile(path));
    EXPECT_EQ(back.ToImage(), dib.ToImage());

    // Missing, cut short, not a bitmap: refused, empty, and why.
    const QByteArray whole = FileContents(path);
    const std::pair<QByteArray, QString> broken[] = {{whole.left(whole.size() - 1), QStringLiteral("cut short")},
                                                     {QByteArray("hello"), QStringLiteral("not a bitmap")}};
    for (const auto &[contents, why] : broken) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
        file.close();
        QString reason;
        EXPECT_FALSE(back.CreateFromBitmapFile(path, &reason));
        EXPECT_TRUE(reason.contains(why)) << qPrintable(reason);
        EXPECT_EQ(back.DIBSectionBitsPtr(), nullptr);
    }
    QString reason;
    EXPECT_FALSE(back.CreateFromBitmapFile(folder.filePath(QStringLiteral("none.bmp")), &reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST(cDIB, APlantedBitmapIsNeverRead)
{
    QTemporaryDir folder, owner;
    const QString path = folder.filePath(QStringLiteral("lastpic.bmp"));
    const QString secret = owner.filePath(QStringLiteral("secret.bmp"));
    cDIB dib;
    ASSERT_TRUE(dib.Create(8, 8));
    ASSERT_EQ(dib.WriteBitmapFile(secret), 0);
    cDIB back;
    ASSERT_TRUE(back.CreateFromBitmapFile(secret));

    // A link to somebody's picture counts as no bitmap at all.
    ASSERT_TRUE(QFile::link(secret, path));
    EXPECT_FALSE(back.CreateFromBitmapFile(path));
    EXPECT_EQ(back.DIBSectionBitsPtr(), nullptr);
    QFile::remove(path);

    // A pipe nobody writes to is refused at once, never waited on.
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QString reason;
    EXPECT_FALSE(back.CreateFromBitmapFile(path, &reason));
    EXPECT_FALSE(reason.isEmpty());
    QFile::remove(path);

    if (geteuid() != 0)
        GTEST_SKIP() << "a file owned by another user needs root to set up";
    ASSERT_EQ(dib.WriteBitmapFile(path), 0);
    ASSERT_EQ(chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    EXPECT_FALSE(back.CreateFromBitmapFile(path));
}

// A turn lands each corner where the owner expects it (checked by hand on a
// 3 x 2 picture whose pixels tell where they came from), and turning in the
// scaler's pass gives exactly what turning first and scaling after gives.
TEST(cDIB, ResampleTurnsThePictureAsAskedInTheSamePass)
{
    cDIB source;
    ASSERT_TRUE(source.Create(3, 2));
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y)
            At(source, x, 1 - y, 0) = static_cast<unsigned char>(10 * x + y); // (x, y) counted from the top left
    struct Case
    {
        FrameTurn turn;
        int topLeft, topRight; // where they came from, 10 x + y
    } cases[] = {
        {{0, Flip::None}, 0, 20},         {{90, Flip::None}, 1, 0},        {{180, Flip::None}, 21, 1},
        {{270, Flip::None}, 20, 21},      {{0, Flip::Horizontal}, 20, 0},  {{0, Flip::Vertical}, 1, 21},
        {{90, Flip::Horizontal}, 0, 1},   {{90, Flip::Vertical}, 21, 20},
    };
    for (const Case &c : cases) {
        const QSize turned = c.turn.Turned(QSize(3, 2));
        auto result = source.Resample(turned.height(), turned.width(), c.turn);
        ASSERT_NE(result, nullptr);
        const int top = turned.height() - 1;
        EXPECT_EQ(At(*result, 0, top, 0), c.topLeft) << c.turn.lRotate << " " << int(c.turn.eFlip);
        EXPECT_EQ(At(*result, turned.width() - 1, top, 0), c.topRight) << c.turn.lRotate << " " << int(c.turn.eFlip);
    }

    cDIB large;
    ASSERT_TRUE(large.Create(61, 37));
    FillRandom(large, 3);
    for (const Case &c : cases) {
        const QSize turned = c.turn.Turned(QSize(61, 37));
        auto oneStep = large.Resample(29, 17, c.turn);
        auto twoSteps = large.Resample(turned.height(), turned.width(), c.turn)->Resample(29, 17);
        ASSERT_TRUE(oneStep && twoSteps);
        for (int row = 0; row < 29; ++row)
            ASSERT_EQ(std::memcmp(oneStep->DIBSectionBitsPtr() + row * oneStep->BytesPerScanLine(),
                                  twoSteps->DIBSectionBitsPtr() + row * twoSteps->BytesPerScanLine(), 17 * 3),
                      0)
                << c.turn.lRotate << " " << int(c.turn.eFlip) << " row " << row;
    }
}
