#include "CaptureTestSupport.h"
#include "PictureMeasures.h"
#include "cCaptureCycle.h"
#include "cVidCap.h"

#include <QDir>
#include <QImage>

#include <chrono>
#include <cmath>
#include <csignal>
#include <sys/resource.h>

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

std::vector<CycleStep> Failed(const cCaptureCycle::Outcome &outcome)
{
    std::vector<CycleStep> steps;
    for (const CycleEvent &event : outcome.events)
        if (event.bFailed)
            steps.push_back(event.step);
    return steps;
}

std::vector<CycleStep> Recovered(const cCaptureCycle::Outcome &outcome)
{
    std::vector<CycleStep> steps;
    for (const CycleEvent &event : outcome.events)
        if (!event.bFailed)
            steps.push_back(event.step);
    return steps;
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
    EXPECT_EQ(CaptionOffset(7, 12), 220);
    EXPECT_EQ(CaptionOffset(8.25, 13), 250);
    EXPECT_EQ(CaptionOffset(9, 14), 250);
    EXPECT_EQ(CaptionOffset(10, 16), 330);
    EXPECT_EQ(CaptionOffset(12, 19.5), 390) << "beyond the table: the line and 6 pixels below it";
    EXPECT_EQ(JpegQuality(0), 3);
    EXPECT_EQ(JpegQuality(70), 70);
}

TEST_F(CaptureCycle, PublishesTheTransmittedSizeFromOurOwnScaling)
{
    CaptureSettings settings = Plain("173", "127");
    settings.lQuality = 100;
    const auto outcome = Run(settings);
    ASSERT_TRUE(outcome.bRan);
    ASSERT_TRUE(outcome.published);
    EXPECT_EQ(*outcome.published, FileContents(Folder() + QStringLiteral("lastpic.jpg"))) << "what the server answers";
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

    // Sizes beyond the font dialog's: the caption stays in the picture,
    // one too large for it at the largest size that fits, and said so.
    for (const char *size : {"12", "28", "400"}) {
        settings.font.FontSize = QString::fromLatin1(size);
        const auto outcome = Run(settings);
        picture = Published();
        EXPECT_LT(qGray(picture.pixel(3, 118)), 60) << size << ": the caption's box";
        EXPECT_EQ(Failed(outcome), size == std::string("400") ? std::vector{CycleStep::Caption} : std::vector<CycleStep>{})
            << size;
    }

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

// While the camera gives no picture, what is published says so: a dark
// picture with a line above the caption that keeps the time since when,
// under the caption's current time; never a frame of the camera used before
// a switch, nor what an earlier run left in the folder. (The last frame of
// the same camera dimmed: CameraLife.ACameraMissingOrGoneIsSaidSoAndTakenBack.)
TEST_F(CaptureCycle, WhileTheCameraGivesNoPictureItIsSaidSinceWhen)
{
    CaptureSettings settings = Plain("173", "127");
    settings.sCaption = QStringLiteral("{SS}");
    settings.sNoPictureText = QStringLiteral("No picture from the camera since %1");
    // The caption's box starts 17 pixels above the bottom edge; the line sits on it.
    const int captionTop = 110, lineTop = 95;
    ASSERT_TRUE(camera.SelectSource(kStillSource));
    Run(settings);
    const QImage live = Published();
    ASSERT_GT(BrightPixels(live, 0, lineTop, 150), 1000);

    // A camera that sends nothing but damaged frames gives no picture.
    {
        QFile damaged(Folder() + QStringLiteral("damaged.jpg"));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray("\xFF\xD8\xFF\xDB") + QByteArray(3000, '\x55'));
    }
    const QString damagedSource = QStringLiteral("gst:multifilesrc location=%1damaged.jpg loop=true "
                                                 "caps=image/jpeg,width=320,height=240 ! identity sleep-time=20000")
                                      .arg(Folder());
    ASSERT_TRUE(camera.SelectSource(damagedSource));
    QImage gone[2];
    for (int i = 0; i < 2; ++i) {
        settings.clock = FixedClock(42 + i);
        const auto outcome = Run(settings);
        EXPECT_EQ(Failed(outcome), i == 0 ? std::vector{CycleStep::Grab} : std::vector<CycleStep>{});
        gone[i] = Published();
        ASSERT_EQ(gone[i].size(), QSize(173, 127));
        EXPECT_LT(MeanLevel(gone[i], 0, lineTop), 10) << "dark: nothing of the camera before the switch";
        EXPECT_GT(BrightPixels(gone[i], lineTop, captionTop, 150), 20) << "the line";
    }
    EXPECT_EQ(gone[0].copy(0, lineTop, 173, captionTop - lineTop), gone[1].copy(0, lineTop, 173, captionTop - lineTop))
        << "the line keeps the time of the last frame";
    EXPECT_NE(gone[0].copy(0, captionTop, 173, 17), gone[1].copy(0, captionTop, 173, 17)) << "the caption runs on";

    ASSERT_TRUE(camera.SelectSource(kStillSource));
    EXPECT_EQ(Recovered(Run(settings)), std::vector{CycleStep::Grab});
    EXPECT_LT(MeanDifference(Published(), live), 3) << "the first good frame publishes normally";

    // A fresh run whose camera never gives a frame, beside a frame another run left.
    QImage planted(320, 240, QImage::Format_RGB888);
    planted.fill(Qt::red);
    ASSERT_TRUE(planted.save(Folder() + QStringLiteral("lastpic.bmp"), "BMP"));
    cCaptureCycle fresh;
    ASSERT_TRUE(camera.SelectSource(damagedSource));
    ASSERT_TRUE(fresh.Run(camera, Folder(), QStringLiteral("lastpic.jpg"), QStringLiteral("lastpic.bmp"), settings)
                    .bRan);
    const QImage dark = Published();
    EXPECT_EQ(BrightPixels(dark, 0, lineTop, 150), 0);
    EXPECT_LT(qRed(dark.pixel(80, 40)), 20) << "nothing of the planted frame";
    EXPECT_GT(BrightPixels(dark, lineTop, captionTop, 150), 20) << "the line";
    EXPECT_FALSE(fresh.Capturing());
}

namespace {

// What a webcam or PipeWire sends: the colour bars in one raw format, or as JPEG frames.
QString BarsSource(const QString &format, QSize size)
{
    const QString raw = QStringLiteral("gst:videotestsrc is-live=true pattern=smpte ! video/x-raw,width=%1,height=%2")
                            .arg(size.width())
                            .arg(size.height());
    return format == QStringLiteral("JPEG") ? raw + QStringLiteral(" ! jpegenc quality=95")
                                            : raw + QStringLiteral(",format=") + format;
}

// Mean difference per channel left of the bars' noise block, in grey for a grey source.
double BarsDifference(const QImage &a, const QImage &b, bool grey)
{
    // A picture too narrow for any column left of the noise block (1 x 1:
    // its one pixel is the noise's) has nothing to compare.
    double sum = 0;
    const int width = a.width() * 7 / 10;
    if (width == 0)
        return 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += grey ? std::abs(qGray(p) - qGray(q))
                        : (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                           std::abs(qBlue(p) - qBlue(q))) / 3.0;
        }
    return sum / (double(width) * a.height());
}

// Upright and in the right colours: white, yellow and cyan bars from the left
// at the top, a dark strip at the bottom left.
void ExpectBars(const QImage &picture, bool grey, const char *what)
{
    const int bar = picture.width() / 7;
    const QRgb first = picture.pixel(bar / 2, 5), second = picture.pixel(bar + bar / 2, 5),
               third = picture.pixel(2 * bar + bar / 2, 5), bottom = picture.pixel(2, picture.height() - 3);
    EXPECT_GT(qGray(first), 170) << what;
    EXPECT_LT(qGray(bottom), 80) << what << ": the bottom of the picture is at the bottom";
    if (grey)
        return;
    EXPECT_TRUE(qRed(second) > 150 && qGreen(second) > 150 && qBlue(second) < 60) << what << ": yellow second";
    EXPECT_TRUE(qRed(third) < 60 && qGreen(third) > 150 && qBlue(third) > 150) << what << ": cyan third";
}

} // namespace

TEST_F(CaptureCycle, EveryCameraFormatPublishesTheRealPictureUpright)
{
    // The same frames as GStreamer itself turns them into BGR.
    auto reference = [&](const QString &format, QSize size) {
        const QString decode = format == QStringLiteral("JPEG") ? QStringLiteral(" ! jpegdec") : QString();
        EXPECT_TRUE(camera.SelectSource(BarsSource(format, size) + decode +
                                        QStringLiteral(" ! videoconvert ! video/x-raw,format=BGR")));
        EXPECT_TRUE(camera.GrabFrame());
        EXPECT_TRUE(camera.GrabbedFrameSave(Folder() + QStringLiteral("reference.bmp")));
        return QImage(Folder() + QStringLiteral("reference.bmp"), "BMP");
    };
    const QSize even(174, 130), odd(173, 129), one(1, 1);
    const std::pair<const char *, QSize> sources[] = {
        {"YUY2", even},  {"UYVY", even}, {"NV12", even}, {"I420", even}, {"RGB", even},  {"BGR", even},
        {"BGRx", even},  {"GRAY8", even}, {"JPEG", even}, {"I420", odd}, {"NV12", odd},  {"YUY2", odd},
        {"JPEG", odd},   {"I420", one},  {"YUY2", one},  {"JPEG", one}};
    for (const auto &[format, size] : sources) {
        const QString what = QStringLiteral("%1 %2 x %3").arg(QLatin1String(format)).arg(size.width()).arg(size.height());
        const QByteArray label = what.toUtf8();
        const QImage expected = reference(QLatin1String(format), size);
        ASSERT_EQ(expected.size(), size) << label.constData();

        ASSERT_TRUE(camera.SelectSource(BarsSource(QLatin1String(format), size)))
            << label.constData() << ": " << qPrintable(camera.LastError());
        CaptureSettings settings = Plain("1", "1");
        settings.sWidth = QString::number(size.width());
        settings.sHeight = QString::number(size.height());
        settings.sCaption.clear();
        settings.lQuality = 100;
        QFile::remove(Folder() + QStringLiteral("lastpic.jpg"));
        const auto outcome = Run(settings);
        EXPECT_TRUE(outcome.events.empty()) << label.constData() << ": " << qPrintable(outcome.events.front().sReason);

        const bool grey = qstrcmp(format, "GRAY8") == 0;
        const QImage grabbed = Grabbed();
        const QImage published = Published();
        ASSERT_EQ(grabbed.size(), size) << label.constData();
        ASSERT_EQ(published.size(), size) << label.constData();
        // GStreamer's JPEG decoder upsamples the colours its own way; raw frames convert alike.
        const double tolerance = qstrcmp(format, "JPEG") == 0 ? 6.0 : 2.0;
        EXPECT_LT(BarsDifference(grabbed, expected, grey), tolerance) << label.constData();
        if (size != one) {
            ExpectBars(grabbed, grey, label.constData());
            ExpectBars(published, grey, label.constData());
        }
    }
}

namespace {

// Every file this process writes fails while it lives, as on a full disk.
class FullDisk
{
public:
    FullDisk()
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = m_old;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

} // namespace

TEST_F(CaptureCycle, AFrameThatCannotBeStoredKeepsThePublishedPicture)
{
    CaptureSettings settings = Plain("173", "127");
    settings.sCaption = QStringLiteral("{SS}");
    ASSERT_TRUE(Run(settings).events.empty());
    const QString jpg = Folder() + QStringLiteral("lastpic.jpg"), bmp = Folder() + QStringLiteral("lastpic.bmp");
    const QByteArray picture = FileContents(jpg);
    ASSERT_FALSE(picture.isEmpty());

    // Something that is no file stands where the frame is stored.
    ASSERT_TRUE(QFile::remove(bmp) && QDir().mkdir(bmp));
    for (int i = 0; i < 2; ++i) {
        settings.clock = FixedClock(20 + i);
        const auto outcome = Run(settings);
        EXPECT_EQ(FileContents(jpg), picture) << "the picture stays byte for byte";
        EXPECT_TRUE(outcome.preview.isNull());
        EXPECT_EQ(Failed(outcome), i == 0 ? std::vector{CycleStep::Bitmap} : std::vector<CycleStep>{})
            << "told once, not at every cycle";
    }

    ASSERT_TRUE(QDir().rmdir(bmp));
    settings.clock = FixedClock(30);
    const auto outcome = Run(settings);
    EXPECT_NE(FileContents(jpg), picture);
    EXPECT_EQ(Recovered(outcome), std::vector{CycleStep::Bitmap});
}

TEST_F(CaptureCycle, SizesOutsideTheLimitsPublishNothingAndSaySo)
{
    CaptureSettings settings = Plain("173", "127");
    Run(settings);
    const QString jpg = Folder() + QStringLiteral("lastpic.jpg");
    const QByteArray picture = FileContents(jpg);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakBefore = usage.ru_maxrss;

    const std::pair<const char *, const char *> sizes[] = {
        {"18000", "18000"}, {"0", "127"}, {"-5", "127"}, {"70000", "1"}, {"173", "soon"}};
    for (const auto &[width, height] : sizes) {
        settings.sWidth = QLatin1String(width);
        settings.sHeight = QLatin1String(height);
        const auto outcome = Run(settings);
        EXPECT_EQ(FileContents(jpg), picture) << width << " x " << height;
        EXPECT_FALSE(outcome.published) << "the server keeps the last picture";
        EXPECT_TRUE(outcome.bRan);
        if (qstrcmp(width, "18000") == 0) {
            ASSERT_EQ(Failed(outcome), std::vector{CycleStep::Jpeg});
            EXPECT_TRUE(outcome.events.front().sReason.contains(QStringLiteral("18000 x 18000")));
        }
    }
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT((usage.ru_maxrss - peakBefore) / 1024, 100) << "MiB taken for pictures never made";

    settings = Plain("173", "127");
    const auto outcome = Run(settings);
    EXPECT_EQ(Recovered(outcome), std::vector{CycleStep::Jpeg});
    EXPECT_NE(FileContents(jpg), picture);
}

TEST_F(CaptureCycle, AFullDiskIsToldOnceAndItsEndToo)
{
    CaptureSettings settings = Plain("173", "127");
    settings.sCaption = QStringLiteral("{SS}");
    Run(settings);
    const QString jpg = Folder() + QStringLiteral("lastpic.jpg");
    const QByteArray picture = FileContents(jpg);
    {
        FullDisk full;
        for (int cycle = 0; cycle < 3; ++cycle) {
            settings.clock = FixedClock(10 + cycle);
            const auto outcome = Run(settings);
            EXPECT_EQ(FileContents(jpg), picture) << "the last good picture stays";
            // The frame cannot be stored, so there is nothing new to publish.
            const std::vector<CycleStep> expected =
                cycle == 0 ? std::vector{CycleStep::Bitmap} : std::vector<CycleStep>{};
            EXPECT_EQ(Failed(outcome), expected) << cycle;
            for (const CycleEvent &event : outcome.events) {
                EXPECT_TRUE(event.sReason.contains(QStringLiteral("too large"), Qt::CaseInsensitive))
                    << qPrintable(event.sReason);
            }
        }
    }
    const auto outcome = Run(settings);
    EXPECT_EQ(Recovered(outcome), std::vector{CycleStep::Bitmap});
    EXPECT_NE(FileContents(jpg), picture);
}

TEST(CycleHealth, EachOutageIsToldWithItsEndAndAFlappingOneStaysBounded)
{
    using namespace std::chrono_literals;
    cCycleHealth health;
    const cCycleHealth::Clock::time_point t0{};
    const QString why = QStringLiteral("disk full");
    EXPECT_EQ(health.Note(CycleStep::Jpeg, true, QString(), t0), std::nullopt) << "working is not news";
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0), (CycleEvent{CycleStep::Jpeg, true, why}));
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 59s), std::nullopt);
    EXPECT_EQ(health.Note(CycleStep::Grab, false, why, t0 + 59s), (CycleEvent{CycleStep::Grab, true, why}))
        << "each step counts on its own";
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 60s), (CycleEvent{CycleStep::Jpeg, true, why}));
    EXPECT_EQ(health.Note(CycleStep::Jpeg, true, QString(), t0 + 61s), (CycleEvent{CycleStep::Jpeg, false, {}}));
    EXPECT_EQ(health.Note(CycleStep::Jpeg, true, QString(), t0 + 62s), std::nullopt);

    // Failing on and off: each outage is told with its end, up to three a
    // minute; one passed over is told once it lasts beyond that bound.
    for (int second : {123, 125, 127}) {
        EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 1s * second), (CycleEvent{CycleStep::Jpeg, true, why}));
        EXPECT_EQ(health.Note(CycleStep::Jpeg, true, QString(), t0 + 1s * (second + 1)), (CycleEvent{CycleStep::Jpeg, false, {}}));
    }
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 129s), std::nullopt);
    EXPECT_EQ(health.Note(CycleStep::Jpeg, true, QString(), t0 + 130s), std::nullopt);
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 131s), std::nullopt);
    EXPECT_EQ(health.Note(CycleStep::Jpeg, false, why, t0 + 183s), (CycleEvent{CycleStep::Jpeg, true, why}));
}
