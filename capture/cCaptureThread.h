#pragma once

#include "cCaptureCycle.h"
#include "cStreamPicture.h"

#include <QObject>
#include <QThread>

#include <chrono>
#include <functional>

class cVidCap;

// The capture cycle on a thread of its own, so that a camera that stalls or a
// large frame never holds up the window. The window asks for a cycle with the
// settings it took on its own thread; the grab, the bitmap round trip,
// scaling, composing and encoding run on the capture thread, the picture goes
// to whoever publishes it from there, and the outcome (preview, log lines)
// comes back as a queued call on the window's thread. Everything that touches
// the camera runs on that one thread, one thing at a time.
class cCaptureThread : public QObject
{
    Q_OBJECT

public:
    using Publish = std::function<void(const std::shared_ptr<const QByteArray> &)>;
    using Done = std::function<void(const cCaptureCycle::Outcome &)>;
    using Told = std::function<void(const std::vector<CycleEvent> &)>;

    // Where the pictures go, called on the capture thread: publish takes each
    // picture written (and whether it is a frame of the camera),
    // publishStream each picture of the live stream (none: the stream made
    // none, so whether anyone still watches is looked at again), and watched
    // (asked from there) tells whether anyone watches the live stream. told
    // takes, on this object's thread, the log lines of what the live stream
    // met: failures and recoveries no snapshot was asked for.
    struct Outlets
    {
        std::function<void(const std::shared_ptr<const QByteArray> &, bool bFromCamera)> publish;
        Publish publishStream;
        std::function<bool()> watched;
        Told told;
    };

    cCaptureThread(cVidCap &objCam, Outlets outlets, QObject *parent = nullptr);
    // Waits for the work under way, at most what one grab or reopening takes.
    ~cCaptureThread() override;

    // One cycle; done runs on this object's thread afterwards. While a cycle
    // is still under way nothing happens and false comes back: never two
    // cycles at once on one camera.
    bool RunCycle(const QString &sFolder, const QString &sJpgFile, const QString &sBmpFile,
                  const CaptureSettings &settings, Done done);
    bool Capturing() const { return m_bCapturing; }
    // Waits until the work queued so far is done and its outcome told (at
    // start-up, so that a picture exists before anyone asks for one).
    void Wait();

    // Runs job on the capture thread after what is queued there, then then
    // on this object's thread (opening the camera, choosing its format).
    void Post(std::function<void()> job, std::function<void()> then = {});

    // The live stream's settings, taken afresh by the window; starts the
    // stream when anyone watches it and it is not running. While anyone
    // watches, every frame the camera delivers (at most dFramesPerSecond of
    // them when above 0) becomes a picture for the viewers; snapshot cycles
    // asked meanwhile run between two frames.
    void Stream(const CaptureSettings &settings, double dFramesPerSecond);

private:
    struct CycleFiles
    {
        QString sFolder, sJpgFile, sBmpFile;
    };
    cCaptureCycle::Outcome Cycle(const CycleFiles &files, const CaptureSettings &settings);
    void StreamStep();
    void Tell(std::vector<CycleEvent> events);
    int PauseAfterStreamPicture(std::chrono::steady_clock::time_point started) const;

    cVidCap &m_objCam;
    Outlets m_outlets;
    // The capture thread's alone.
    cCaptureCycle m_cycle;
    CycleFiles m_lastFiles;
    cStreamPicture m_stream;
    CaptureSettings m_streamSettings;
    double m_dStreamFps = 0;
    bool m_bStreaming = false;
    // This object's thread's alone.
    bool m_bCapturing = false;
    QThread m_thread;
    QObject *m_worker; // lives on m_thread: where the work is queued
};
