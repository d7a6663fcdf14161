#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// The log file the "Save logfile" choice writes: every line appended with its
// time. Bounded: a file grown past its size becomes name.1, the older ones
// move up to name.3, and the oldest goes. A file that cannot be written is
// told once through the report, and the program goes on without it; it is
// tried again with every line, and told again once it failed anew after working.
class cLogFile
{
public:
    static constexpr qint64 MostBytes = 1024 * 1024;
    static constexpr int KeptFiles = 3;
    using Report = std::function<void(const QString &sPath, const QString &sReason)>;

    cLogFile(QString sPath, Report report, qint64 lMostBytes = MostBytes);
    ~cLogFile();
    cLogFile(const cLogFile &) = delete;
    cLogFile &operator=(const cLogFile &) = delete;

    // The log file of a settings file (empty: the user's own) in
    // $XDG_STATE_HOME/vorsk/, else ~/.local/state/vorsk/: named as the
    // settings file's folder of pictures is, with ".log".
    static QString PathFor(const QString &sSettingsFile);

    QString Path() const { return m_sPath; }
    // Off (as made): lines are not written, and the file is closed.
    void setEnabled(bool bEnabled);
    void Write(const QString &sLine);

private:
    bool Open(QString &sReason);
    bool Rotate(QString &sReason);
    bool Append(const QByteArray &bytes, QString &sReason);
    void Close();
    void Fail(const QString &sReason);

    QString m_sPath;
    Report m_report;
    qint64 m_lMostBytes;
    qint64 m_lSize = 0;
    int m_fd = -1;
    bool m_bEnabled = false;
    bool m_bFailed = false;
};
