#include "CaptureTestSupport.h"
#include "cCaptureCycle.h"
#include "cStreamPicture.h"
#include "cVidCap.h"

#include <QImage>

namespace {

// A camera whose halves differ both ways: a red block 80 wide and 120 high in
// the top left corner of a green 320 x 240 frame.
const QString kCornerCamera = QStringLiteral(
    "gst:videotestsrc is-live=true pattern=red ! video/x-raw,width=80,height=120 ! "
    "videobox right=-240 bottom=-120 fill=green ! video/x-raw,width=320,height=240");

bool Reddish(QRgb p)
{
    return qRed(p) > 150 && qGreen(p) < 100;
}

} // namespace

// The snapshot and the live stream both show the frame turned as asked, at
// the size set, for a raw and a JPEG camera: the red block lies where the
// turn puts it (its middle red, the three places that mirror it not).
TEST_F(CameraTest, ATurnedCameraIsPublishedTurnedInSnapshotAndStream)
{
    struct Case
    {
        FrameTurn turn;
        QSize picture;
        QPoint redMiddle; // of the block in the picture, at half the frame's size
    } cases[] = {
        {{0, Flip::None}, {160, 120}, {20, 30}},
        {{90, Flip::None}, {120, 160}, {90, 20}},
        {{180, Flip::Vertical}, {160, 120}, {140, 30}},
        {{270, Flip::None}, {120, 160}, {30, 140}},
        {{90, Flip::Horizontal}, {120, 160}, {30, 20}},
    };
    for (const QString &camera : {kCornerCamera, kCornerCamera + QStringLiteral(" ! jpegenc quality=95")}) {
        qputenv("VORSK_CAMERA", camera.toUtf8());
        cVidCap objCam;
        objCam.Connect();
        for (const Case &c : cases) {
            CaptureSettings settings;
            settings.sWidth = QString::number(c.picture.width());
            settings.sHeight = QString::number(c.picture.height());
            settings.turn = c.turn;
            cCaptureCycle cycle;
            const QString jpg = QStringLiteral("lastpic.jpg");
            ASSERT_TRUE(cycle.Run(objCam, Folder(), jpg, QStringLiteral("lastpic.bmp"), settings).published);
            cStreamPicture stream;
            QString error;
            const auto bytes = stream.Next(objCam, settings, error);
            ASSERT_TRUE(bytes) << qPrintable(error);
            const QImage pictures[] = {QImage(Folder() + jpg), QImage::fromData(*bytes, "JPEG")};
            for (const QImage &picture : pictures) {
                ASSERT_EQ(picture.size(), c.picture);
                const QPoint m = c.redMiddle;
                const QPoint mirrored = QPoint(c.picture.width() - 1, c.picture.height() - 1) - m;
                const auto where = QStringLiteral("%1 %2 %3").arg(c.turn.lRotate).arg(int(c.turn.eFlip)).arg(camera);
                EXPECT_TRUE(Reddish(picture.pixel(m))) << qPrintable(where);
                for (const QPoint p : {QPoint(mirrored.x(), m.y()), QPoint(m.x(), mirrored.y()), mirrored})
                    EXPECT_FALSE(Reddish(picture.pixel(p))) << qPrintable(where);
            }
        }
    }
}
