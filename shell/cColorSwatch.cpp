#include "cColorSwatch.h"

#include "cCommonDialog.h"

#include <QMouseEvent>

cColorSwatch::cColorSwatch(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setBackColor(m_lBackColor);
}

void cColorSwatch::setBackColor(std::uint32_t lColor)
{
    m_lBackColor = lColor;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorFromBGR(TranslateColor(lColor)));
    setPalette(palette);
}

void cColorSwatch::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}
