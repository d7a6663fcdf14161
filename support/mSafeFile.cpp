#include "mSafeFile.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a new file beside sPath under a name nobody else uses.
int CreateSibling(const QByteArray &path, QByteArray &tempPath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = path + ".tmp-" + QByteArray::number(getpid()) + '-' + QByteArray::number(counter++);
        const int fd = open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

int WriteAll(int fd, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

void CarryOverStamps(int fd, const struct stat &old)
{
    // Failing to carry them over still leaves a good picture: ignored.
    (void)fchmod(fd, old.st_mode & 0777);
    const struct timespec times[2] = {old.st_atim, old.st_mtim};
    (void)futimens(fd, times);
}

} // namespace

int ReplaceFileContents(const QString &sPath, const void *pData, std::size_t lSize, bool bKeepStamps)
{
    return ReplaceFileContents(sPath, {{pData, lSize}}, bKeepStamps);
}

int ReplaceFileContents(const QString &sPath, std::initializer_list<FilePiece> pieces, bool bKeepStamps)
{
    const QByteArray path = QFile::encodeName(sPath);
    struct stat old{};
    // Only a picture of our own passes its mode and times on.
    const bool hadFile = lstat(path.constData(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == geteuid();

    QByteArray tempPath;
    const int fd = CreateSibling(path, tempPath);
    if (fd < 0)
        return errno;
    int error = 0;
    for (const FilePiece &piece : pieces)
        if (!error)
            error = WriteAll(fd, static_cast<const unsigned char *>(piece.pData), piece.lSize);
    if (!error && hadFile && bKeepStamps)
        CarryOverStamps(fd, old);
    if (close(fd) != 0 && !error)
        error = errno;
    if (!error && rename(tempPath.constData(), path.constData()) != 0)
        error = errno;
    if (error)
        unlink(tempPath.constData());
    return error;
}

int OpenOwnFile(const QString &sPath)
{
    const int fd = open(QFile::encodeName(sPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) // a link: never followed
            errno = ENOENT;
        return -1;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

void CreateEmptyFile(const QString &sPath)
{
    const int fd = open(QFile::encodeName(sPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
        close(fd);
}
