#pragma once

#include "cCameraControls.h"

#include <QString>

// The one place that talks to a camera's V4L2 device node: its controls
// listed, read and set through the kernel's control interface. Everything
// above it works on cControlDevice.
class cV4l2Device : public cControlDevice
{
public:
    // Opens the node; Opened() tells whether that worked.
    explicit cV4l2Device(const QString &sNode);
    ~cV4l2Device() override;
    cV4l2Device(const cV4l2Device &) = delete;
    cV4l2Device &operator=(const cV4l2Device &) = delete;

    bool Opened() const { return m_fd >= 0; }
    std::vector<CameraControl> Controls() override;
    bool Set(std::uint32_t lId, int lValue, QString &sError) override;

private:
    int m_fd = -1;
};
