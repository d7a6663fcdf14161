#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP, and the desktop session ending, into one
// signal on the event loop: the system is ending the program.
class cSystemEnd : public QObject
{
    Q_OBJECT

public:
    explicit cSystemEnd(QObject *parent = nullptr);
    ~cSystemEnd() override;

signals:
    void Ending();

private:
    QSocketNotifier *m_notifier = nullptr;
};
