#include "cPictureSource.h"

#include "mSafeFile.h"

#include <QHash>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const cPictureSource::Body kNoPicture = cAnswerBody::InMemory(QByteArray());

bool SameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The whole file from an open descriptor; false when a read fails.
bool ReadWhole(int descriptor, qint64 size, QByteArray &bytes)
{
    bytes.resize(size);
    for (qint64 done = 0; done < size;) {
        const ssize_t got = ::read(descriptor, bytes.data() + done, size_t(size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

// The same bytes, the same tag, in every run; different bytes, another.
QByteArray EntityTag(const QByteArray &bytes)
{
    return '"' + QByteArray::number(quint64(qHash(bytes, 0)), 16) + '-' + QByteArray::number(bytes.size(), 16) + '"';
}

} // namespace

void cPictureSource::Publish(const Picture &picture, bool bFromCamera)
{
    Shot shot{picture ? cAnswerBody::InFile(*picture) : nullptr, std::time(nullptr),
              picture ? EntityTag(*picture) : QByteArray()};
    std::lock_guard lock(m_mutex);
    shot.soleInItsSecond = !m_published.body || m_published.modified != shot.modified;
    m_published = std::move(shot);
    m_bFromCamera = picture && bFromCamera;
    m_publishedAt = std::chrono::steady_clock::now();
}

bool cPictureSource::Stale(qint64 lIntervalMs)
{
    std::lock_guard lock(m_mutex);
    return m_bFromCamera && std::chrono::steady_clock::now() - m_publishedAt >= std::chrono::milliseconds(lIntervalMs);
}

cPictureSource::Shot cPictureSource::Latest(const QString &sPath)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_published.body)
            return m_published;
    }
    return FromFile(sPath);
}

cPictureSource::Shot cPictureSource::FromFile(const QString &sPath)
{
    // Only a picture of our own is sent: never a link another user planted,
    // never a pipe that would hold the server.
    const int descriptor = sPath.isEmpty() ? -1 : OpenOwnFile(sPath);
    if (descriptor < 0) {
        // A picture that does not exist yet is created empty: an empty answer.
        if (!sPath.isEmpty() && errno == ENOENT)
            CreateEmptyFile(sPath);
        return {kNoPicture, 0, {}};
    }
    struct stat status{};
    Shot picture{kNoPicture, 0, {}};
    if (fstat(descriptor, &status) == 0 && m_file.body && sPath == m_sFilePath && status.st_dev == m_device &&
        status.st_ino == m_inode && status.st_size == m_size && SameTime(status.st_ctim, m_changed)) {
        picture = m_file;
    } else if (QByteArray bytes; fstat(descriptor, &status) == 0 && ReadWhole(descriptor, status.st_size, bytes)) {
        picture = m_file = {cAnswerBody::InFile(bytes), status.st_mtim.tv_sec, EntityTag(bytes)};
        m_sFilePath = sPath;
        m_device = status.st_dev;
        m_inode = status.st_ino;
        m_size = status.st_size;
        m_changed = status.st_ctim;
    }
    ::close(descriptor);
    return picture;
}
