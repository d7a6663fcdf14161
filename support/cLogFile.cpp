#include "cLogFile.h"

#include "mPrivateFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray Encoded(const QString &sPath)
{
    return QFile::encodeName(sPath);
}

} // namespace

cLogFile::cLogFile(QString sPath, Report report, qint64 lMostBytes)
    : m_sPath(std::move(sPath)), m_report(std::move(report)), m_lMostBytes(lMostBytes)
{
}

cLogFile::~cLogFile()
{
    Close();
}

QString cLogFile::PathFor(const QString &sSettingsFile)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/')))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vorsk/") + InstanceFolderName(sSettingsFile) + QStringLiteral(".log");
}

void cLogFile::setEnabled(bool bEnabled)
{
    m_bEnabled = bEnabled;
    if (!bEnabled)
        Close();
}

void cLogFile::Write(const QString &sLine)
{
    if (!m_bEnabled)
        return;
    // One entry, one line: the box's line ends, and any break inside, are blanks.
    QString line = sLine;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    line = line.trimmed();
    const QByteArray bytes =
        (QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8();
    // A file removed meanwhile (a cleaner, an admin) is made anew.
    struct stat status{};
    if (m_fd >= 0 && (::fstat(m_fd, &status) != 0 || status.st_nlink == 0))
        Close();
    QString sReason;
    if ((m_fd < 0 && !Open(sReason)) || (m_lSize + bytes.size() > m_lMostBytes && !Rotate(sReason)) ||
        !Append(bytes, sReason)) {
        Fail(sReason);
        return;
    }
    m_bFailed = false;
}

// Never through a link, never waiting on a pipe planted at the path; the file
// holds the viewers' addresses, so it is its owner's alone.
bool cLogFile::Open(QString &sReason)
{
    const QString folder = QFileInfo(m_sPath).path();
    if (!QDir().mkpath(folder)) {
        sReason = QStringLiteral("the folder %1 cannot be made").arg(folder);
        return false;
    }
    const int fd = ::open(Encoded(m_sPath).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        sReason = ErrnoText(errno);
        return false;
    }
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        sReason = QStringLiteral("not a file");
        return false;
    }
    m_fd = fd;
    m_lSize = status.st_size;
    return true;
}

// Another instance on the same settings file may have turned the file over
// already: then the new file is simply opened.
bool cLogFile::Rotate(QString &sReason)
{
    struct stat open{}, named{};
    const bool bSame = ::fstat(m_fd, &open) == 0 && ::lstat(Encoded(m_sPath).constData(), &named) == 0 &&
                       open.st_dev == named.st_dev && open.st_ino == named.st_ino;
    Close();
    if (bSame) {
        for (int i = KeptFiles - 1; i >= 1; --i)
            ::rename(Encoded(m_sPath + QLatin1Char('.') + QString::number(i)).constData(),
                     Encoded(m_sPath + QLatin1Char('.') + QString::number(i + 1)).constData());
        if (::rename(Encoded(m_sPath).constData(), Encoded(m_sPath + QStringLiteral(".1")).constData()) != 0) {
            sReason = ErrnoText(errno);
            return false;
        }
    }
    return Open(sReason);
}

bool cLogFile::Append(const QByteArray &bytes, QString &sReason)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            sReason = ErrnoText(written < 0 ? errno : ENOSPC);
            return false;
        }
        done += written;
        m_lSize += written;
    }
    return true;
}

void cLogFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// Said before it is reported: a report that writes a line of its own finds it said.
void cLogFile::Fail(const QString &sReason)
{
    Close();
    if (std::exchange(m_bFailed, true))
        return;
    if (m_report)
        m_report(m_sPath, sReason);
}
