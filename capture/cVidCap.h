#pragma once

#include "cDIB.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QWidget;
struct SourceDialogTexts;
class cSourceDialog;

// One source the camera can be switched to. sId is what VORSK_CAMERA and the
// settings name: a device path (/dev/video0), "test" for the built-in test
// pattern, "gst:" followed by a GStreamer pipeline description, "camera:"
// followed by a camera's name, " @ " and its serial number or port (what the
// source dialog stores, since the device path may change), or "name:"
// followed by the display name of a device that tells neither.
struct CaptureSource
{
    QString sName;
    QString sId;
    // The V4L2 device node its controls are set through; empty for a source
    // without (the test pattern, a pipeline, a camera reached another way).
    QString sNode;
};

// One frame size a source offers, with the frame rates it offers it at
// (both 0 when unknown: a source that takes any rate tells none).
struct CaptureFormat
{
    QSize size;
    double dMinFramesPerSecond = 0;
    double dMaxFramesPerSecond = 0;
};

// The capture control: one GStreamer pipeline per opened source, ending in a
// sink that keeps only the newest frame. It is driven (opened, grabbed,
// switched) from one thread at a time; what is open may be asked from any. A grab takes that frame and decodes
// or converts it into a 24-bit image buffer; frames nobody grabs are never
// decoded, converted or copied. No frame larger than an image buffer may hold
// is asked of a source or read from it.
class cVidCap : public QObject
{
    Q_OBJECT

public:
    static constexpr int GrabWaitMilliseconds = 1500;

    explicit cVidCap(QObject *parent = nullptr);
    ~cVidCap() override;

    // Opens VORSK_CAMERA when set, else the source last chosen, else the first
    // camera found. Throws cError when there is none or it cannot be opened.
    void Connect();

    // The handle cCap's messages go to.
    std::uintptr_t CaptureWindowHandle() const;
    // Takes the newest frame, waiting a bounded time for one; false when none
    // came or it could not be read (a damaged JPEG frame, an unknown format).
    // With atLeast, a JPEG frame may be decoded straight to a smaller size
    // that still covers it (the live stream's frames).
    bool GrabFrame(QSize atLeast = {});
    // Hands the frame last grabbed over by swapping buffers with frame, with
    // no copy; false when there is none. It is not held here any more.
    bool TakeGrabbedFrame(cDIB &frame);
    // Writes the frame last grabbed as a 24-bit bitmap file at sPath, through a
    // temporary file renamed over it. False when there is no frame or the write failed.
    bool GrabbedFrameSave(const QString &sPath);
    // Why the last grab, save or opening failed.
    const QString &LastError() const { return m_sLastError; }
    // What is open, asked from any thread: the capture resolution, the
    // source and the sizes it offers.
    QSize Size() const;
    QString CurrentSourceId() const;
    std::vector<CaptureFormat> Formats() const;

    // The format and source dialogs, with the words given: the choice
    // confirmed, nothing when cancelled or unchanged. SelectFormat or
    // SelectSource then makes it.
    std::optional<QSize> ShowFormatDialog(QWidget *owner, const QString &sTitle) const;
    // The source dialog also shows the chosen camera's controls, which take
    // effect at once and are kept under the camera's identity when confirmed;
    // prepare may connect its preview before it is shown.
    std::optional<QString> ShowSourceDialog(QWidget *owner, const SourceDialogTexts &texts,
                                            const std::function<void(cSourceDialog &)> &prepare = {}) const;
    std::vector<CaptureSource> Sources() const;
    // Reopen at another size or with another source; on failure the previous
    // choice is opened again and false returned. A success is remembered in the
    // settings group "capture".
    bool SelectFormat(QSize size);
    bool SelectSource(const QString &sId);

    static cVidCap *FromHandle(std::uintptr_t hCapWnd);

private:
    struct Pipeline;

    std::unique_ptr<Pipeline> MakePipeline(const QString &sId);
    bool Open(const QString &sId, QSize wanted);
    bool Reopen();
    void Remember() const;
    void ApplyStoredControls() const;

    std::unique_ptr<Pipeline> m_pipeline;
    // Written where the camera is driven, read from anywhere.
    mutable std::mutex m_openMutex;
    std::vector<CaptureFormat> m_formats;
    QString m_sSourceId;
    QSize m_size;
    QString m_sLastError;
    cDIB m_frame;
    bool m_bFrameHeld = false;
    std::chrono::steady_clock::time_point m_lastOpen;
};

// The capture-window messages the program sends; it only ever grabs.
class cCap
{
public:
    // Makes the capture window take one frame; true when it did.
    bool capGrabFrame(std::uintptr_t hCapWnd) const;
};
