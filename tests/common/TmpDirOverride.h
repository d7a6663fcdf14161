#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Points TMPDIR somewhere else for the life of the object.
class TmpDirOverride
{
public:
    explicit TmpDirOverride(const QString &path) : m_old(qgetenv("TMPDIR")), m_had(qEnvironmentVariableIsSet("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TmpDirOverride()
    {
        if (m_had)
            qputenv("TMPDIR", m_old);
        else
            qunsetenv("TMPDIR");
    }
    TmpDirOverride(const TmpDirOverride &) = delete;
    TmpDirOverride &operator=(const TmpDirOverride &) = delete;

private:
    QByteArray m_old;
    bool m_had;
};
