#include "cCycleHealth.h"

std::optional<CycleEvent> cCycleHealth::Note(CycleStep step, bool bWorked, const QString &sReason,
                                             Clock::time_point now)
{
    StepState &state = m_steps[std::size_t(step)];
    if (bWorked) {
        const bool told = state.bFailing && state.bTold;
        state.bFailing = state.bTold = false;
        return told ? std::optional(CycleEvent{step, false, {}}) : std::nullopt;
    }
    state.bFailing = true;
    if (state.lastFailureLine && now - *state.lastFailureLine < RepeatAfter)
        return std::nullopt;
    state.lastFailureLine = now;
    state.bTold = true;
    return CycleEvent{step, true, sReason};
}
