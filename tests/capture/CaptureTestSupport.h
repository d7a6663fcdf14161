#pragma once

#include "TestHome.h"

// The camera tests start from the test pattern and leave VORSK_CAMERA unset.
class CameraTest : public TestHome
{
protected:
    void TearDown() override { qunsetenv("VORSK_CAMERA"); }
};

// A source that is open and running but never delivers a frame.
inline const QString kSilentSource =
    QStringLiteral("gst:videotestsrc is-live=true ! valve drop=true drop-mode=forward-sticky-events");
// A still picture: the same frame every time.
inline const QString kStillSource = QStringLiteral("gst:videotestsrc is-live=true pattern=smpte75");
