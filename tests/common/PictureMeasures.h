#pragma once

#include <QImage>

#include <algorithm>

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
