// mklogo <out.bmp>: draws the Vorsk logo, 309 x 75 pixels, and writes it as an uncompressed
// 24-bit BMP. Run by hand when the logo changes; the result is committed as resources/logo.bmp.
// mklogo --icon <size> <out.png>: the logo's camera alone on a rounded square, the
// application icon, drawn at the build for each size the desktop asks for.

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr int Width = 309;
constexpr int Height = 75;

void DrawBackground(QPainter &p)
{
    QLinearGradient sky(0, 0, Width, Height);
    sky.setColorAt(0, QColor(0x0e, 0x23, 0x3d));
    sky.setColorAt(1, QColor(0x1b, 0x5e, 0x7a));
    p.fillRect(0, 0, Width, Height, sky);
    p.fillRect(0, Height - 3, Width, 3, QColor(0xf2, 0xa5, 0x1a));
}

void DrawCamera(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0xee, 0xf3));
    p.drawRoundedRect(QRectF(30, 12, 20, 10), 3, 3);
    p.drawRoundedRect(QRectF(12, 18, 66, 44), 8, 8);

    QRadialGradient glass(QPointF(41, 38), 17, QPointF(36, 33));
    glass.setColorAt(0, QColor(0x6f, 0xc3, 0xe8));
    glass.setColorAt(1, QColor(0x0c, 0x3a, 0x5c));
    p.setBrush(QColor(0x24, 0x2c, 0x36));
    p.drawEllipse(QPointF(45, 40), 19, 19);
    p.setBrush(glass);
    p.drawEllipse(QPointF(45, 40), 13, 13);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(40, 35), 3.5, 3.5);
    p.setBrush(QColor(0xe5, 0x3b, 0x2f));
    p.drawEllipse(QPointF(70, 26), 3, 3);
}

void DrawWaves(QPainter &p)
{
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(0xf2, 0xa5, 0x1a, 230 - 60 * i), 2.5, Qt::SolidLine, Qt::RoundCap));
        const double r = 7 + 6 * i;
        p.drawArc(QRectF(84 - r, 40 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
}

void DrawName(QPainter &p)
{
    QFont name(QStringLiteral("DejaVu Sans"), 30, QFont::Bold);
    name.setPixelSize(40);
    p.setFont(name);
    p.setPen(Qt::white);
    p.drawText(QRectF(112, 4, Width - 116, 48), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Vorsk"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(12);
    p.setFont(line);
    p.setPen(QColor(0xb9, 0xdc, 0xee));
    p.drawText(QRectF(114, 50, Width - 118, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("webcam image server"));
}

// BITMAPFILEHEADER, BITMAPINFOHEADER, then blue-green-red rows, bottom row first.
QByteArray Bmp24(const QImage &image)
{
    const int stride = (image.width() * 3 + 3) & ~3;
    const quint32 pixels = quint32(stride) * quint32(image.height());
    QByteArray out;
    const auto put = [&out](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
    };
    out.append("BM");
    put(54 + pixels, 4), put(0, 4), put(54, 4);
    put(40, 4), put(quint32(image.width()), 4), put(quint32(image.height()), 4);
    put(1, 2), put(24, 2), put(0, 4), put(pixels, 4), put(3780, 4), put(3780, 4), put(0, 4),
        put(0, 4);
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        }
        out.append(QByteArray(stride - image.width() * 3, '\0'));
    }
    return out;
}

// The camera (drawn in the logo's 90 x 75 corner) centred on a rounded square.
QImage Icon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size, size);
    sky.setColorAt(0, QColor(0x0e, 0x23, 0x3d));
    sky.setColorAt(1, QColor(0x1b, 0x5e, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    const double scale = size / 84.0;
    p.scale(scale, scale);
    p.translate(-3, 5); // the camera's middle, (45, 37), to the middle
    DrawCamera(p);
    return icon;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--icon") {
        const int size = QByteArray(argv[2]).toInt();
        if (size < 8 || size > 1024 || !Icon(size).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
            std::fprintf(stderr, "mklogo: cannot write a %s pixel icon to %s\n", argv[2], argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: mklogo <out.bmp> | mklogo --icon <size> <out.png>\n");
        return 2;
    }

    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    DrawBackground(painter);
    DrawCamera(painter);
    DrawWaves(painter);
    DrawName(painter);
    painter.end();

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(Bmp24(image)) < 0) {
        std::fprintf(stderr, "mklogo: %s\n", qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
