#include "cCaptureThread.h"

#include <QCoreApplication>

cCaptureThread::cCaptureThread(cVidCap &objCam, Publish publish, QObject *parent)
    : QObject(parent), m_objCam(objCam), m_publish(std::move(publish)), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("capture"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

cCaptureThread::~cCaptureThread()
{
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

cCaptureCycle::Outcome cCaptureThread::Cycle(const QString &sFolder, const QString &sJpgFile,
                                             const QString &sBmpFile, const CaptureSettings &settings)
{
    cCaptureCycle::Outcome outcome = m_cycle.Run(m_objCam, sFolder, sJpgFile, sBmpFile, settings);
    if (outcome.published && m_publish)
        m_publish(outcome.published);
    return outcome;
}

bool cCaptureThread::RunCycle(const QString &sFolder, const QString &sJpgFile, const QString &sBmpFile,
                              const CaptureSettings &settings, Done done)
{
    if (m_bCapturing)
        return false;
    m_bCapturing = true;
    QMetaObject::invokeMethod(m_worker, [=, this, done = std::move(done)] {
        const cCaptureCycle::Outcome outcome = Cycle(sFolder, sJpgFile, sBmpFile, settings);
        QMetaObject::invokeMethod(this, [this, outcome, done] {
            m_bCapturing = false;
            if (done)
                done(outcome);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    return true;
}

void cCaptureThread::Wait()
{
    QMetaObject::invokeMethod(m_worker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void cCaptureThread::Post(std::function<void()> job, std::function<void()> then)
{
    QMetaObject::invokeMethod(m_worker, [this, job = std::move(job), then = std::move(then)] {
        job();
        if (then)
            QMetaObject::invokeMethod(this, then, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}
