#include "cLogFold.h"

#include <utility>

cLogFold::cLogFold(Write write, QString sMoreText, Clock clock)
    : m_write(std::move(write)), m_sMoreText(std::move(sMoreText)), m_clock(std::move(clock))
{
}

void cLogFold::Line(const QString &sLine)
{
    const qint64 now = m_clock();
    if (const auto found = m_folds.find(sLine); found != m_folds.end()) {
        if (now - found->second.since < FoldMilliseconds) {
            ++found->second.more;
            return;
        }
        Tell(found->first, found->second);
        m_folds.erase(found);
    }
    m_write(sLine);
    m_folds.emplace(sLine, Fold{now, 0});
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
    if (fold.more > 0)
        m_write(sLine + QLatin1Char(' ') + m_sMoreText.arg(fold.more));
}
