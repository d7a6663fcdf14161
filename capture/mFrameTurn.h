#pragma once

#include <QSize>
#include <QString>

// How the owner wants the camera's frame turned before it is scaled: first
// rotated clockwise, then mirrored as the turned picture is seen.
enum class Flip { None, Horizontal, Vertical };

struct FrameTurn
{
    int lRotate = 0; // degrees clockwise: 0, 90, 180 or 270
    Flip eFlip = Flip::None;

    bool IsNone() const { return lRotate == 0 && eFlip == Flip::None; }
    bool SwapsSides() const { return lRotate == 90 || lRotate == 270; }
    // The size of a frame of size once it is turned.
    QSize Turned(QSize size) const { return SwapsSides() ? size.transposed() : size; }
};

// The settings' texts: [capture] rotate ("0", "90", "180", "270") and
// [capture] flip ("horizontal", "vertical", anything else none). A rotation
// that is none of the four turns nothing.
int RotationOf(const QString &sText);
Flip FlipOf(const QString &sText);
QString FlipText(Flip eFlip);
