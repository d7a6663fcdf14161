#include "mFrameTurn.h"

int RotationOf(const QString &sText)
{
    bool ok = false;
    const int degrees = sText.trimmed().toInt(&ok);
    return ok && (degrees == 90 || degrees == 180 || degrees == 270) ? degrees : 0;
}

Flip FlipOf(const QString &sText)
{
    const QString text = sText.trimmed();
    if (text.compare(QStringLiteral("horizontal"), Qt::CaseInsensitive) == 0)
        return Flip::Horizontal;
    if (text.compare(QStringLiteral("vertical"), Qt::CaseInsensitive) == 0)
        return Flip::Vertical;
    return Flip::None;
}

QString FlipText(Flip eFlip)
{
    switch (eFlip) {
    case Flip::Horizontal:
        return QStringLiteral("horizontal");
    case Flip::Vertical:
        return QStringLiteral("vertical");
    default:
        return QStringLiteral("none");
    }
}
