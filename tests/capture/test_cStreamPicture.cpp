#include "CaptureTestSupport.h"
#include "PictureMeasures.h"
#include "cCaptureCycle.h"
#include "cStreamPicture.h"
#include "cVidCap.h"

#include <QImage>

#include <cmath>

// A picture of the live stream is the snapshot's picture of the same still
// camera: scaled (from a frame decoded at a smaller size where that covers
// it), inverted and captioned alike, the caption at the same place; for any
// camera format.
TEST_F(CameraTest, AStreamPictureIsTheSnapshotsPicture)
{
    CaptureSettings settings;
    settings.font.szFont = QStringLiteral("DejaVu Sans");
    settings.font.FontSize = QStringLiteral("9");
    settings.sCaption = QStringLiteral("Door {HH}:{MI}:{SS}");
    settings.clock = [] { return QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7)); };
    const QString still = QStringLiteral("gst:videotestsrc is-live=true pattern=smpte75 ! video/x-raw,width=640,height=480");
    struct Case
    {
        QString camera;
        QSize picture;
        bool invert;
    } cases[] = {
        {still, {640, 480}, false},
        {still, {320, 240}, true},
        {still + QStringLiteral(" ! jpegenc quality=100"), {300, 200}, false},
        {still + QStringLiteral(" ! jpegenc quality=100"), {640, 480}, true},
    };
    for (const Case &c : cases) {
        qputenv("VORSK_CAMERA", c.camera.toUtf8());
        cVidCap camera;
        camera.Connect();
        settings.sWidth = QString::number(c.picture.width());
        settings.sHeight = QString::number(c.picture.height());
        settings.bInvert = c.invert;
        cCaptureCycle cycle;
        ASSERT_TRUE(cycle.Run(camera, Folder(), QStringLiteral("lastpic.jpg"), QStringLiteral("lastpic.bmp"), settings)
                        .published);
        const QImage snapshot(Folder() + QStringLiteral("lastpic.jpg"));

        cStreamPicture stream;
        QString error;
        const auto bytes = stream.Next(camera, settings, error);
        ASSERT_TRUE(bytes) << qPrintable(error);
        const QImage picture = QImage::fromData(*bytes, "JPEG");
        ASSERT_EQ(picture.size(), c.picture) << qPrintable(c.camera);
        EXPECT_LT(MeanDifference(picture, snapshot), 2.5) << qPrintable(c.camera) << " " << c.picture.width();
        const int band = CaptionTopRow(c.picture.height(), settings);
        EXPECT_LT(MeanDifference(picture.copy(0, band, 120, c.picture.height() - band),
                                 snapshot.copy(0, band, 120, c.picture.height() - band)),
                  4)
            << "the caption where the snapshot has it";
    }
}
