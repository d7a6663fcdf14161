#pragma once

#include <QImage>

#include <algorithm>
#include <cstdlib>

// The mean channel value of the rows top to bottom (exclusive) of a picture.
inline double MeanLevel(const QImage &picture, int top, int bottom)
{
    double sum = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            sum += qRed(p) + qGreen(p) + qBlue(p);
        }
    return sum / (3.0 * picture.width() * (bottom - top));
}

// The pixels of those rows with a channel above the threshold: caption text,
// or a live picture, where a picture dimmed to half its brightness has none.
inline int BrightPixels(const QImage &picture, int top, int bottom, int threshold = 200)
{
    int bright = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            bright += std::max({qRed(p), qGreen(p), qBlue(p)}) > threshold ? 1 : 0;
        }
    return bright;
}

// The mean difference per channel between two pictures of the same size;
// inverted: against the second one's colour negative.
inline double MeanDifference(const QImage &a, const QImage &b, bool inverted = false)
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
