#pragma once

#include <QObject>
#include <QString>

class QImage;
class QSystemTrayIcon;
class QWidget;

// Mouse events of the notification icon, as the window receives them.
constexpr int WM_LBUTTONDBLCLK = 0x203;
constexpr int WM_RBUTTONUP = 0x205;
constexpr int WM_LBUTTONUP = 0x202;

// The window's icon in the notification area (identifier 1 of its window).
// Mouse events over the icon are reported as MouseEvent with their message
// code; the window decides what they do.
class clsTray : public QObject
{
    Q_OBJECT

public:
    static constexpr int IconId = 1;
    static constexpr int TipLength = 64;

    explicit clsTray(QObject *parent = nullptr);
    ~clsTray() override;

    bool bRunningInTray() const { return m_bRunningInTray; }
    // The tip text as the notification area gets it.
    QString ToolTip() const;

    void ShowIcon(QWidget &frm);
    void RemoveIcon(QWidget &frm);
    void ChangeToolTip(QWidget &frm, const QString &sTip);
    void ChangeIcon(QWidget &frm, const QImage &picture);

signals:
    void MouseEvent(int lMessage);

private:
    QSystemTrayIcon *m_icon;
    bool m_bRunningInTray = false;
};
