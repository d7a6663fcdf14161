#include "cDIB.h"
#include "PictureMeasures.h"
#include "cJpegDecoder.h"

#include <QByteArray>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>

namespace {

// A picture with a red block at the top left and a blue one at the bottom right.
QImage Marked(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    picture.fill(QColor(128, 128, 128));
    QPainter painter(&picture);
    painter.fillRect(0, 0, std::max(1, width / 4), std::max(1, height / 4), Qt::red);
    painter.fillRect(width - width / 4, height - height / 4, width / 4, height / 4, Qt::blue);
    return picture;
}

// The picture as a camera would send it, encoded by TurboJPEG.
QByteArray Encoded(const QImage &picture, int subsampling, int quality = 95, int flags = 0)
{
    tjhandle encoder = tjInitCompress();
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(encoder, picture.constBits(), picture.width(), int(picture.bytesPerLine()),
                               picture.height(), TJPF_RGB, &bytes, &size, subsampling, quality, flags);
    QByteArray result = rc == 0 ? QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)) : QByteArray();
    tjFree(bytes);
    tjDestroy(encoder);
    return result;
}

bool Decode(cJpegDecoder &decoder, const QByteArray &bytes, cDIB &frame, QString &error)
{
    return decoder.Decode(reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size()),
                          frame, error);
}


} // namespace

TEST(cJpegDecoder, CommonJpegFramesArriveUprightAsQtReadsThem)
{
    cJpegDecoder decoder;
    cDIB frame;
    for (QSize size : {QSize(173, 129), QSize(640, 480), QSize(1, 1), QSize(174, 130)})
        for (int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY}) {
            const QByteArray bytes = Encoded(Marked(size.width(), size.height()), subsampling);
            QString error;
            ASSERT_TRUE(Decode(decoder, bytes, frame, error)) << qPrintable(error) << " " << size.width();
            ASSERT_EQ(QSize(frame.Width(), frame.Height()), size);
            // Qt's own JPEG reader is the judge of what the bytes show.
            const QImage expected = QImage::fromData(bytes, "JPG").convertToFormat(QImage::Format_RGB888);
            const QImage decoded = frame.ToImage();
            EXPECT_LT(MeanDifference(decoded, expected), 1.0) << size.width() << " " << subsampling;
            if (subsampling != TJSAMP_GRAY && size.width() > 8) {
                EXPECT_GT(qRed(decoded.pixel(2, 2)), 200) << "the red block stays at the top left";
                EXPECT_GT(qBlue(decoded.pixel(size.width() - 3, size.height() - 3)), 200);
            }
        }
}

TEST(cJpegDecoder, DamagedFramesFailAndOversizedOnesAreRefusedUntouched)
{
    cJpegDecoder decoder;
    const QByteArray good = Encoded(Marked(320, 240), TJSAMP_420);
    cDIB frame;
    QString error;
    ASSERT_TRUE(Decode(decoder, good, frame, error));

    // Cut short where real cameras cut them (in the headers, in the middle, near
    // the end) or garbled: each fails alone, and the next good frame decodes.
    QByteArray garbage = good.left(2);
    for (int i = 0; i < 5000; ++i)
        garbage.append(char((i * 7919) & 0xFF));
    QByteArray garbled = good;
    for (qsizetype i = 20; i < garbled.size(); i += 3)
        garbled[i] = char(0xFF);
    // A progressive frame is refused whole: its scans could number thousands.
    const QByteArray progressive = Encoded(Marked(320, 240), TJSAMP_420, 95, TJFLAG_PROGRESSIVE);
    ASSERT_GE(progressive.indexOf("\xFF\xC2"), 0);
    const QByteArray damaged[] = {good.left(2), good.left(100), good.left(good.size() / 2), good.left(good.size() - 60),
                                  garbage, garbled, QByteArray(4096, '\0'), progressive};
    for (const QByteArray &bytes : damaged) {
        error.clear();
        EXPECT_FALSE(Decode(decoder, bytes, frame, error)) << bytes.size();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(Decode(decoder, good, frame, error)) << "after " << bytes.size() << ": " << qPrintable(error);
    }
    EXPECT_FALSE(decoder.Decode(nullptr, 0, frame, error));

    // A header claiming 16000 x 12000 is refused before a byte is made for it.
    QByteArray huge = good;
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    for (auto [at, value] : {std::pair{5, 12000}, std::pair{7, 16000}}) {
        huge[sof + at] = char(value >> 8);
        huge[sof + at + 1] = char(value & 0xFF);
    }
    const unsigned char *bits = frame.DIBSectionBitsPtr();
    EXPECT_FALSE(Decode(decoder, huge, frame, error));
    EXPECT_TRUE(error.contains(QStringLiteral("16000 x 12000"))) << qPrintable(error);
    EXPECT_EQ(frame.DIBSectionBitsPtr(), bits);
    EXPECT_EQ(QSize(frame.Width(), frame.Height()), QSize(320, 240));

    // The decoder carries no harm from a bad frame to the next good one.
    ASSERT_TRUE(Decode(decoder, good, frame, error));
    EXPECT_GT(qRed(frame.ToImage().pixel(2, 2)), 200);
}
