#include "clsTray.h"

#include <QImage>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

QString TipText(const QString &sTip)
{
    return sTip.left(clsTray::TipLength);
}

int MessageOf(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        return WM_RBUTTONUP;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    default:
        return WM_LBUTTONUP;
    }
}

} // namespace

clsTray::clsTray(QObject *parent) : QObject(parent), m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { emit MouseEvent(MessageOf(reason)); });
}

clsTray::~clsTray() = default;

QString clsTray::ToolTip() const
{
    return m_icon->toolTip();
}

void clsTray::ShowIcon(QWidget &frm)
{
    m_icon->setIcon(frm.windowIcon());
    m_icon->setToolTip(TipText(frm.windowTitle()));
    m_icon->show();
    m_bRunningInTray = true;
}

void clsTray::RemoveIcon(QWidget &frm)
{
    m_icon->hide();
    m_icon->setToolTip(QString());
    if (!frm.isVisible())
        frm.show();
    m_bRunningInTray = false;
}

void clsTray::ChangeToolTip(QWidget &, const QString &sTip)
{
    if (m_bRunningInTray)
        m_icon->setToolTip(TipText(sTip));
}

void clsTray::ChangeIcon(QWidget &, const QImage &picture)
{
    if (m_bRunningInTray)
        m_icon->setIcon(QIcon(QPixmap::fromImage(picture)));
}
