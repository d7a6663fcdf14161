#include "CaptureTestSupport.h"
#include "cError.h"
#include "cVidCap.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QThread>

#include <sys/resource.h>

TEST_F(CameraTest, TestPatternIsGrabbedAsAMovingBitmap)
{
    cVidCap camera;
    camera.Connect();
    EXPECT_EQ(camera.Size(), QSize(640, 480)) << "first start asks for 640 x 480";
    EXPECT_FALSE(cCap().capGrabFrame(0x1234)) << "an unknown handle grabs nothing";

    ASSERT_TRUE(cCap().capGrabFrame(camera.CaptureWindowHandle()));
    ASSERT_TRUE(camera.GrabbedFrameSave(Folder() + QStringLiteral("a.bmp")));
    QThread::msleep(150);
    ASSERT_TRUE(camera.GrabFrame());
    ASSERT_TRUE(camera.GrabbedFrameSave(Folder() + QStringLiteral("b.bmp")));

    const QImage first(Folder() + QStringLiteral("a.bmp"), "BMP");
    const QImage second(Folder() + QStringLiteral("b.bmp"), "BMP");
    ASSERT_EQ(first.size(), QSize(640, 480));
    EXPECT_EQ(FileContents(Folder() + QStringLiteral("a.bmp")).at(28), 24) << "24 bits a pixel";
    EXPECT_NE(first, second) << "successive pictures differ";

    // The still colour bars: light grey at the top left, dark blue at the bottom left.
    ASSERT_TRUE(camera.SelectSource(
        QStringLiteral("gst:videotestsrc is-live=true pattern=smpte ! video/x-raw,width=640,height=480")));
    ASSERT_TRUE(camera.GrabFrame());
    ASSERT_TRUE(camera.GrabbedFrameSave(Folder() + QStringLiteral("c.bmp")));
    const QImage bars(Folder() + QStringLiteral("c.bmp"), "BMP");
    EXPECT_GT(qGray(bars.pixel(5, 5)), 150);
    EXPECT_LT(qGray(bars.pixel(5, 475)), 80);
}

TEST_F(CameraTest, ASilentSourceKeepsTheLastFrameAndABadOneIsRefused)
{
    cVidCap camera;
    camera.Connect();
    ASSERT_TRUE(camera.GrabFrame());
    const QString bitmap = Folder() + QStringLiteral("lastpic.bmp");
    ASSERT_TRUE(camera.GrabbedFrameSave(bitmap));
    const QByteArray before = FileContents(bitmap);

    EXPECT_FALSE(camera.SelectSource(QStringLiteral("/dev/no-such-camera")));
    EXPECT_EQ(camera.CurrentSourceId(), QStringLiteral("test")) << "the previous source is opened again";

    ASSERT_TRUE(camera.SelectSource(kSilentSource));
    EXPECT_FALSE(camera.GrabFrame()) << "no frame within the wait";
    camera.GrabbedFrameSave(bitmap);
    EXPECT_EQ(FileContents(bitmap), before);

    ASSERT_TRUE(camera.SelectSource(QStringLiteral("test")));
    EXPECT_TRUE(camera.GrabFrame());
}

TEST_F(CameraTest, TheChoiceIsRememberedInTheCaptureGroupOnly)
{
    {
        cVidCap camera;
        camera.Connect();
        bool offersQvga = false;
        for (const CaptureFormat &format : camera.Formats())
            offersQvga |= format.size == QSize(320, 240);
        ASSERT_TRUE(offersQvga);
        ASSERT_TRUE(camera.SelectFormat(QSize(320, 240)));
        EXPECT_EQ(camera.Size(), QSize(320, 240));
        ASSERT_TRUE(camera.GrabFrame());
    }
    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.childGroups(), QStringList{QStringLiteral("capture")});
    EXPECT_EQ(stored.value(QStringLiteral("capture/device")).toString(), QStringLiteral("test"));

    qunsetenv("VORSK_CAMERA");
    cVidCap again;
    again.Connect();
    EXPECT_EQ(again.CurrentSourceId(), QStringLiteral("test"));
    EXPECT_EQ(again.Size(), QSize(320, 240));
}

TEST_F(CameraTest, NoCameraAtAllIsAFailure)
{
    qunsetenv("VORSK_CAMERA");
    cVidCap camera;
    if (camera.Sources().size() > 1)
        GTEST_SKIP() << "this machine has a camera";
    EXPECT_THROW(camera.Connect(), cError);
    EXPECT_FALSE(camera.GrabFrame());
}

TEST_F(CameraTest, ASourceThatEndsIsOpenedAgainAtTheNextGrab)
{
    // Stands in for a camera that goes away and comes back: three frames, then the end.
    qputenv("VORSK_CAMERA", "gst:videotestsrc is-live=true num-buffers=3");
    cVidCap camera;
    camera.Connect();
    // It is opened again at most once a second.
    int grabbed = 0;
    for (int i = 0; i < 40 && grabbed <= 3; ++i) {
        grabbed += camera.GrabFrame() ? 1 : 0;
        QThread::msleep(60);
    }
    EXPECT_GT(grabbed, 3) << "grabbing went on after the source ended";
}

namespace {

// A JPEG picture as an MJPEG camera sends it.
QByteArray JpegOf(const QImage &picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG", 90);
    return bytes;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Peak memory of this process so far, in MiB.
long PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

TEST_F(CameraTest, DamagedJpegFramesAmongGoodOnesAreSkippedWithinTheGrab)
{
    // An MJPEG camera at ten frames a second whose every second frame is cut short
    // or garbled, as a loose USB cable makes them.
    QImage picture(320, 240, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(0, 0, 40, 40, Qt::red);
    const QByteArray good = JpegOf(picture);
    QByteArray garbled = good;
    for (qsizetype i = 20; i < garbled.size(); i += 3)
        garbled[i] = char(0xFF);
    WriteFile(Folder() + QStringLiteral("frame0.jpg"), good);
    WriteFile(Folder() + QStringLiteral("frame1.jpg"), good.left(good.size() / 2));
    WriteFile(Folder() + QStringLiteral("frame2.jpg"), good);
    WriteFile(Folder() + QStringLiteral("frame3.jpg"), garbled);
    qputenv("VORSK_CAMERA", QStringLiteral("gst:multifilesrc location=%1frame%d.jpg loop=true stop-index=3 "
                                           "caps=image/jpeg,width=320,height=240 ! identity sleep-time=100000")
                                .arg(Folder())
                                .toUtf8());
    cVidCap camera;
    camera.Connect();
    const QString bitmap = Folder() + QStringLiteral("lastpic.bmp");
    // Every grab gives a whole frame: a damaged one is passed over for the next.
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(camera.GrabFrame()) << i << ": " << qPrintable(camera.LastError());
        ASSERT_TRUE(camera.GrabbedFrameSave(bitmap));
        const QImage saved(bitmap, "BMP");
        EXPECT_GT(qRed(saved.pixel(5, 5)), 200);
        EXPECT_LT(qGreen(saved.pixel(5, 5)), 60) << "the red block is whole, at the top left";
        EXPECT_GT(qGray(saved.pixel(300, 220)), 200);
        QThread::msleep(130);
    }
}

TEST_F(CameraTest, FramesOverTheLimitAreNeitherAskedForNorConverted)
{
    const long before = PeakMiB();
    // A camera that only sends 16000 x 12000 frames (288 MB each as I420) cannot be chosen.
    cVidCap camera;
    camera.Connect();
    for (const char *huge : {"gst:videotestsrc is-live=true ! video/x-raw,width=16000,height=12000",
                             "gst:videotestsrc is-live=true ! video/x-raw,width=70000,height=10"}) {
        EXPECT_FALSE(camera.SelectSource(QLatin1String(huge))) << huge;
        EXPECT_TRUE(camera.LastError().contains(QStringLiteral("megapixels"))) << qPrintable(camera.LastError());
        EXPECT_EQ(camera.CurrentSourceId(), QStringLiteral("test"));
    }
    EXPECT_LT(PeakMiB() - before, 100) << "no frame of that size was made";

    qputenv("VORSK_CAMERA", "gst:videotestsrc is-live=true ! video/x-raw,width=16000,height=12000");
    cVidCap refused;
    try {
        refused.Connect();
        ADD_FAILURE() << "the camera was taken";
    } catch (const cError &error) {
        EXPECT_TRUE(error.Description().contains(QStringLiteral("16000 x 12000"))) << qPrintable(error.Description());
    }

    // A stored size over the limit is not asked for: the first size is.
    qputenv("VORSK_CAMERA", "test");
    {
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("capture/width"), 18000);
        stored.setValue(QStringLiteral("capture/height"), 18000);
    }
    cVidCap bounded;
    bounded.Connect();
    EXPECT_EQ(bounded.Size(), QSize(640, 480));
}

TEST_F(CameraTest, APipelineThatFixesItsOwnSizeKeepsIt)
{
    // A network camera or an encoder at the end of a pipeline: its size is its own.
    qputenv("VORSK_CAMERA", "gst:videotestsrc is-live=true ! video/x-raw,width=352,height=288 ! jpegenc");
    cVidCap camera;
    camera.Connect();
    EXPECT_EQ(camera.Size(), QSize(352, 288));
    ASSERT_TRUE(camera.GrabFrame()) << qPrintable(camera.LastError());
    ASSERT_TRUE(camera.GrabbedFrameSave(Folder() + QStringLiteral("own.bmp")));
    EXPECT_EQ(QImage(Folder() + QStringLiteral("own.bmp"), "BMP").size(), QSize(352, 288));
}
