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
    while (!state.lines.empty() && now - state.lines.front() >= RepeatAfter)
        state.lines.pop_front();
    state.bFailing = true;
    const bool tell = state.bTold ? state.lines.empty() : state.lines.size() < MostOutagesAMinute;
    if (!tell)
        return std::nullopt;
    state.lines.push_back(now);
    state.bTold = true;
    return CycleEvent{step, true, sReason};
}
