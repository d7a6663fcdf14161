#include "CaptureTestSupport.h"
#include "cError.h"
#include "cVidCap.h"

#include <QImage>
#include <QThread>

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
    ASSERT_TRUE(camera.SelectSource(QStringLiteral("gst:videotestsrc is-live=true pattern=smpte")));
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
    int grabbed = 0;
    for (int i = 0; i < 8; ++i) {
        grabbed += camera.GrabFrame() ? 1 : 0;
        QThread::msleep(60);
    }
    EXPECT_GT(grabbed, 3) << "grabbing went on after the source ended";
}
