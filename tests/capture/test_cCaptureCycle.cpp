#include "CaptureTestSupport.h"
#include "cCaptureCycle.h"
#include "cVidCap.h"

#include <QImage>

#include <cmath>

namespace {

ClockFn FixedClock(int second)
{
    return [second] { return QDateTime(QDate(2026, 12, 6), QTime(9, 5, second)); };
}

CaptureSettings Plain(const char *width, const char *height)
{
    CaptureSettings settings;
    settings.sWidth = QString::fromLatin1(width);
    settings.sHeight = QString::fromLatin1(height);
    settings.font.szFont = QStringLiteral("DejaVu Sans");
    settings.font.FontSize = QStringLiteral("8.25");
    settings.previewSize = QSize(160, 120);
    settings.clock = FixedClock(7);
    return settings;
}

// Mean difference per channel between two pictures of the same size.
double MeanDifference(const QImage &a, const QImage &b, bool inverted = false)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            auto channel = [&](int v) { return inverted ? 255 - v : v; };
            sum += std::abs(qRed(p) - channel(qRed(q))) + std::abs(qGreen(p) - channel(qGreen(q))) +
                   std::abs(qBlue(p) - channel(qBlue(q)));
        }
    return sum / (3.0 * a.width() * a.height());
}

class CaptureCycle : public CameraTest
{
protected:
    void SetUp() override
    {
        CameraTest::SetUp();
        camera.Connect();
    }

    QImage Published() const { return QImage(Folder() + QStringLiteral("lastpic.jpg")); }
    QImage Grabbed() const { return QImage(Folder() + QStringLiteral("lastpic.bmp"), "BMP"); }

    cCaptureCycle::Outcome Run(const CaptureSettings &settings)
    {
        return cycle.Run(camera, Folder(), QStringLiteral("lastpic.jpg"), QStringLiteral("lastpic.bmp"), settings);
    }

    cVidCap camera;
    cCaptureCycle cycle;
};

} // namespace

TEST(CaptureRules, IntervalOffsetAndQuality)
{
    EXPECT_EQ(CaptureInterval(QStringLiteral("0")), 1000);
    EXPECT_EQ(CaptureInterval(QStringLiteral("soon")), 1000);
    EXPECT_EQ(CaptureInterval(QString()), 1000);
    EXPECT_EQ(CaptureInterval(QStringLiteral("2.5")), 2500);
    EXPECT_EQ(CaptureInterval(QStringLiteral("0.0025")), 2) << "2.5 ms, halves to even";
    EXPECT_EQ(CaptureInterval(QStringLiteral("-3")), std::nullopt);
    EXPECT_EQ(CaptionOffset(7), 220);
    EXPECT_EQ(CaptionOffset(8.25), 250);
    EXPECT_EQ(CaptionOffset(9), 250);
    EXPECT_EQ(CaptionOffset(10), 330);
    EXPECT_EQ(CaptionOffset(12), 0);
    EXPECT_EQ(JpegQuality(0), 3);
    EXPECT_EQ(JpegQuality(70), 70);
}

TEST_F(CaptureCycle, PublishesTheTransmittedSizeFromOurOwnScaling)
{
    CaptureSettings settings = Plain("173", "127");
    settings.lQuality = 100;
    const auto outcome = Run(settings);
    ASSERT_TRUE(outcome.bRan);
    EXPECT_EQ(outcome.preview.size(), QSize(160, 120));
    const QImage published = Published();
    ASSERT_EQ(published.size(), QSize(173, 127));
    ASSERT_EQ(Grabbed().size(), QSize(640, 480));
    cDIB frame;
    frame.CreateFromPicture(Grabbed());
    const QImage expected = frame.Resample(127, 173)->ToImage();
    EXPECT_LT(MeanDifference(published.copy(0, 0, 173, 100), expected.copy(0, 0, 173, 100)), 6.0)
        << "above the caption";

    // Inverted, the whole picture (its noise included, where JPEG errs most).
    settings.bInvert = true;
    settings.sCaption.clear();
    Run(settings);
    frame.CreateFromPicture(Grabbed());
    EXPECT_LT(MeanDifference(Published(), frame.Resample(127, 173)->ToImage(), true), 6.0);
}

TEST_F(CaptureCycle, CaptionSitsAboveTheBottomEdgeByTheFontsOffset)
{
    ASSERT_TRUE(camera.SelectSource(QStringLiteral("gst:videotestsrc is-live=true pattern=white")));
    CaptureSettings settings = Plain("173", "127");
    settings.sCaption = QStringLiteral("{HH}:{MI}:{SS}");
    settings.font.FontSize = QStringLiteral("8");
    Run(settings);
    QImage picture = Published();
    // 127 * 15 - 250 twips = 1655 twips = 110.33 pixels: the black box starts there.
    EXPECT_GT(qGray(picture.pixel(3, 108)), 200);
    EXPECT_LT(qGray(picture.pixel(3, 113)), 60);

    settings.font.FontSize = QStringLiteral("12"); // offset 0: below the picture, unseen
    Run(settings);
    picture = Published();
    EXPECT_GT(qGray(picture.pixel(3, 125)), 200);

    settings.font.FontSize = QStringLiteral("8");
    settings.sCaption.clear(); // no caption, no box
    Run(settings);
    picture = Published();
    EXPECT_GT(qGray(picture.pixel(3, 113)), 200);
}

TEST_F(CaptureCycle, QualityZeroIsWrittenAtThree)
{
    ASSERT_TRUE(camera.SelectSource(kStillSource));
    CaptureSettings settings = Plain("320", "240");
    auto sizeAt = [&](int slider) {
        settings.lQuality = slider;
        Run(settings);
        return FileContents(Folder() + QStringLiteral("lastpic.jpg")).size();
    };
    const auto atZero = sizeAt(0);
    EXPECT_EQ(atZero, sizeAt(3));
    EXPECT_NE(atZero, sizeAt(1));
}

TEST_F(CaptureCycle, AFailedGrabStillPublishesTheLastFrameWithAFreshCaption)
{
    CaptureSettings settings = Plain("173", "127");
    settings.sCaption = QStringLiteral("{SS}");
    Run(settings);
    const QByteArray bitmap = FileContents(Folder() + QStringLiteral("lastpic.bmp"));
    const QByteArray picture = FileContents(Folder() + QStringLiteral("lastpic.jpg"));

    ASSERT_TRUE(camera.SelectSource(kSilentSource));
    settings.clock = FixedClock(42);
    EXPECT_TRUE(Run(settings).bRan);
    EXPECT_EQ(FileContents(Folder() + QStringLiteral("lastpic.bmp")), bitmap);
    EXPECT_NE(FileContents(Folder() + QStringLiteral("lastpic.jpg")), picture);
    EXPECT_FALSE(cycle.Capturing());
}
