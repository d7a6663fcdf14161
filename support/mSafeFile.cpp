#include "mSafeFile.h"

#include "mPrivateFolder.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where a file lies: its folder, open, and its name there.
struct Place
{
    OpenFolder folder;
    QByteArray name;
};

// The folder of sPath, opened once so that every step works on the same
// folder: this run's private folder through the descriptor held for the run.
// Nothing, with errno set, when the folder cannot be opened.
std::optional<Place> PlaceOf(const QString &sPath)
{
    const QByteArray path = QFile::encodeName(sPath);
    const qsizetype slash = path.lastIndexOf('/');
    Place place{nullptr, path.mid(slash + 1)};
    if (place.name.isEmpty() || place.name == "." || place.name == "..") {
        errno = EISDIR;
        return std::nullopt;
    }
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    place.folder = HeldPrivateFolder(QFile::decodeName(folder));
    if (!place.folder) {
        // A path descriptor needs no right to list the folder, as opening the file by path did not.
        const int fd = open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return std::nullopt;
        place.folder = std::make_shared<const cOpenFolder>(fd);
    }
    return place;
}

// Opens a new file beside the named one under a name nobody else uses.
int CreateSibling(const Place &place, QByteArray &tempName)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = place.name + ".tmp-" + QByteArray::number(getpid()) + '-' + QByteArray::number(counter++);
        const int fd = openat(place.folder->Fd(), tempName.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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
    const auto place = PlaceOf(sPath);
    if (!place)
        return errno;
    const int folder = place->folder->Fd();
    struct stat old{};
    // Only a picture of our own passes its mode and times on.
    const bool hadFile = fstatat(folder, place->name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(old.st_mode) && old.st_uid == geteuid();

    QByteArray tempName;
    const int fd = CreateSibling(*place, tempName);
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
    if (!error && renameat(folder, tempName.constData(), folder, place->name.constData()) != 0)
        error = errno;
    if (error)
        unlinkat(folder, tempName.constData(), 0);
    return error;
}

int OpenOwnFile(const QString &sPath)
{
    const auto place = PlaceOf(sPath);
    if (!place)
        return -1;
    const int fd = openat(place->folder->Fd(), place->name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
    const auto place = PlaceOf(sPath);
    if (!place)
        return;
    const int fd = openat(place->folder->Fd(), place->name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
        close(fd);
}
