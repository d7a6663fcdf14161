#pragma once

#include <QString>

#include <array>
#include <chrono>
#include <optional>

// The steps of the capture cycle whose failure leaves a stale picture published.
enum class CycleStep
{
    Grab,   // the camera gave no usable frame
    Bitmap, // the grabbed frame could not be stored or read back
    Jpeg,   // the picture could not be composed or written
};

// A line worth logging: a step failed (and why), or works again.
struct CycleEvent
{
    CycleStep step;
    bool bFailed;
    QString sReason;

    bool operator==(const CycleEvent &) const = default;
};

// Decides which results of the capture cycle are told: the first failure of
// a step, then at most one a minute while it goes on failing, and one line
// when a step whose failure was told works again.
class cCycleHealth
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds RepeatAfter{60};

    std::optional<CycleEvent> Note(CycleStep step, bool bWorked, const QString &sReason, Clock::time_point now);

private:
    struct StepState
    {
        bool bFailing = false;
        bool bTold = false;
        std::optional<Clock::time_point> lastFailureLine;
    };
    std::array<StepState, 3> m_steps;
};
