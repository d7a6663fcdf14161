#include "cLogFold.h"

#include <utility>

namespace {

// Equal lines written each second before the rest are counted: a few
// connections keep a line each, a flood does not.
constexpr int kUnfolded = 20;

} // namespace

cLogFold::cLogFold(Write write, QString sMoreText, Clock clock)
    : m_write(std::move(write)), m_sMoreText(std::move(sMoreText)), m_clock(std::move(clock))
{
}

void cLogFold::Line(const QString &sLine)
{
    const qint64 now = m_clock();
    if (const auto found = m_folds.find(sLine); found != m_folds.end()) {
        if (now - found->second.since < FoldMilliseconds) {
            if (++found->second.seen <= kUnfolded)
                m_write(sLine);
            return;
        }
        Tell(found->first, found->second);
        m_folds.erase(found);
    }
    m_write(sLine);
    m_folds.emplace(sLine, Fold{now, 1});
}

void cLogFold::Flush(bool bAll)
{
    const qint64 now = m_clock();
    for (auto it = m_folds.begin(); it != m_folds.end();) {
        if (!bAll && now - it->second.since < FoldMilliseconds) {
            ++it;
            continue;
        }
        Tell(it->first, it->second);
        it = m_folds.erase(it);
    }
}

void cLogFold::Tell(const QString &sLine, const Fold &fold)
{
    if (fold.seen > kUnfolded)
        m_write(sLine + QLatin1Char(' ') + m_sMoreText.arg(fold.seen - kUnfolded));
}
