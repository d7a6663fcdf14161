#pragma once

#include <QString>

#include <array>
#include <chrono>
#include <deque>
#include <optional>

// The steps of the capture cycle whose failure leaves a stale picture published.
enum class CycleStep
{
    Grab,   // the camera gave no usable frame
    Bitmap, // the grabbed frame could not be stored or read back
    Jpeg,   // the picture could not be composed or written
    Caption, // the caption is drawn smaller than its font size
};

// A line worth logging: a step failed (and why), or works again.
struct CycleEvent
{
    CycleStep step;
    bool bFailed;
    QString sReason;

    bool operator==(const CycleEvent &) const = default;
};

// Decides which results of the capture cycle are told: the start of each
// outage of a step, then one line a minute while it lasts, and one line when
// a step whose failure was told works again. A step that fails on and off
// tells at most MostOutagesAMinute outages a minute; one passed over is told
// as soon as it lasts beyond that bound, so the log stays short and no
// lasting outage goes unsaid.
class cCycleHealth
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds RepeatAfter{60};
    static constexpr std::size_t MostOutagesAMinute = 3;

    std::optional<CycleEvent> Note(CycleStep step, bool bWorked, const QString &sReason, Clock::time_point now);

private:
    struct StepState
    {
        bool bFailing = false;
        bool bTold = false;
        // The failure lines told within the last minute, oldest first.
        std::deque<Clock::time_point> lines;
    };
    std::array<StepState, 4> m_steps;
};
