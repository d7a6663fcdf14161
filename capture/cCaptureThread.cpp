#include "cCaptureThread.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kNoFrameRetryMs = 1000;
// The live stream shows at least one picture an hour, however low its rate.
constexpr double kLongestStreamPauseMs = 3600 * 1000.0;

} // namespace

cCaptureThread::cCaptureThread(cVidCap &objCam, Outlets outlets, QObject *parent)
    : QObject(parent), m_objCam(objCam), m_outlets(std::move(outlets)), m_worker(new QObject)
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

cCaptureCycle::Outcome cCaptureThread::Cycle(const CycleFiles &files, const CaptureSettings &settings)
{
    m_lastFiles = files;
    cCaptureCycle::Outcome outcome = m_cycle.Run(m_objCam, files.sFolder, files.sJpgFile, files.sBmpFile, settings);
    if (outcome.published && m_outlets.publish)
        m_outlets.publish(outcome.published, outcome.bFromCamera);
    return outcome;
}

bool cCaptureThread::RunCycle(const QString &sFolder, const QString &sJpgFile, const QString &sBmpFile,
                              const CaptureSettings &settings, Done done)
{
    if (m_bCapturing)
        return false;
    m_bCapturing = true;
    QMetaObject::invokeMethod(
        m_worker,
        [this, files = CycleFiles{sFolder, sJpgFile, sBmpFile}, settings, done = std::move(done)] {
            const cCaptureCycle::Outcome outcome = Cycle(files, settings);
            QMetaObject::invokeMethod(
                this,
                [this, outcome, done] {
                    m_bCapturing = false;
                    if (done)
                        done(outcome);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
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

void cCaptureThread::Stream(const CaptureSettings &settings, double dFramesPerSecond)
{
    QMetaObject::invokeMethod(
        m_worker,
        [this, settings, dFramesPerSecond] {
            m_streamSettings = settings;
            m_dStreamFps = dFramesPerSecond;
            if (!m_bStreaming && m_outlets.watched && m_outlets.watched()) {
                m_bStreaming = true;
                StreamStep();
            }
        },
        Qt::QueuedConnection);
}

// One picture of the live stream, then the next step is queued behind what
// else waits for the capture thread. A camera that gives no frame shows the
// viewers the snapshot's picture that says so, and is asked again a second
// later. What the stream meets is told as a snapshot's cycle would tell it.
void cCaptureThread::StreamStep()
{
    if (!m_outlets.watched()) {
        m_bStreaming = false;
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    QString error;
    const auto picture = m_stream.Next(m_objCam, m_streamSettings, error);
    if (picture) {
        m_outlets.publishStream(picture);
        Tell(m_cycle.NoteStreamFrame());
    } else {
        // The picture saying there is none shows the stream's last frame, since it arrived.
        cStreamPicture::Frame last = m_stream.TakeLastFrame();
        m_cycle.KeepFrame(std::move(last.frame), last.when, last.sSource);
        if (!m_lastFiles.sFolder.isEmpty())
            Tell(Cycle(m_lastFiles, m_streamSettings).events);
        m_outlets.publishStream(nullptr);
    }
    const int pause = picture ? PauseAfterStreamPicture(started) : kNoFrameRetryMs;
    QTimer::singleShot(pause, m_worker, [this] { StreamStep(); });
}

void cCaptureThread::Tell(std::vector<CycleEvent> events)
{
    if (events.empty() || !m_outlets.told)
        return;
    QMetaObject::invokeMethod(this, [this, events = std::move(events)] { m_outlets.told(events); },
                              Qt::QueuedConnection);
}

// Milliseconds until the next stream picture: none at the camera's own rate,
// the rest of the frame's time at a rate of the user's.
int cCaptureThread::PauseAfterStreamPicture(std::chrono::steady_clock::time_point started) const
{
    using namespace std::chrono;
    if (m_dStreamFps <= 0)
        return 0;
    // Reckoned in floating point: a rate of one picture in years must not
    // overflow into a pause that never ends.
    const double frameMs = std::min(1000 / m_dStreamFps, kLongestStreamPauseMs);
    const double spentMs = duration<double, std::milli>(steady_clock::now() - started).count();
    return int(std::max(0.0, frameMs - spentMs));
}
