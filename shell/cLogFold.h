#pragma once

#include <QString>
#include <functional>
#include <map>

// Folds the repeated lines of a flood, so a service's journal stays
// readable: the first twenty equal lines within a second are written, the
// others are counted and told in one line once that second is over.
class cLogFold
{
public:
    static constexpr qint64 FoldMilliseconds = 1000;
    using Write = std::function<void(const QString &)>;
    using Clock = std::function<qint64()>;

    // sMoreText: what follows a folded line, with %1 for how many more.
    cLogFold(Write write, QString sMoreText, Clock clock);

    void Line(const QString &sLine);
    // Tells what the seconds now over have folded; all of it when bAll (at the end).
    void Flush(bool bAll = false);

private:
    struct Fold
    {
        qint64 since;
        int seen;
    };
    void Tell(const QString &sLine, const Fold &fold);

    Write m_write;
    QString m_sMoreText;
    Clock m_clock;
    std::map<QString, Fold> m_folds;
};
