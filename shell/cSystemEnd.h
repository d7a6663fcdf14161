#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT, and the desktop session ending, into one signal on
// the event loop: the system is ending the program; and SIGHUP into another.
class cSystemEnd : public QObject
{
    Q_OBJECT

public:
    explicit cSystemEnd(QObject *parent = nullptr);
    ~cSystemEnd() override;

signals:
    void Ending();
    void HangUp();

private:
    QSocketNotifier *m_notifier = nullptr;
};
