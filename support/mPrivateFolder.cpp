#include "mPrivateFolder.h"

#include "mSettingsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

cOpenFolder::~cOpenFolder()
{
    if (m_fd >= 0)
        close(m_fd);
}

namespace {

constexpr int kMostInstances = 100;
constexpr int kFallbackAttempts = 100;
// Deeper than this a fallback folder is not ours to have made: left alone.
constexpr int kMostDepth = 16;
// Keeps a folder name well inside the 255 bytes a name may have.
constexpr qsizetype kMostSettingsNameChars = 64;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

OpenFolder OpenAt(int at, const QByteArray &name)
{
    const int fd = openat(at, name.constData(), kFolderFlags);
    return fd < 0 ? nullptr : std::make_shared<const cOpenFolder>(fd);
}

QByteArray OwnBaseName()
{
    return "vorsk-" + QByteArray::number(geteuid());
}

// A folder of this user's that still exists, closed to everybody else.
bool ClosedFolder(int fd)
{
    struct stat st{};
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0 &&
           st.st_nlink > 0;
}

bool Gone(int fd)
{
    struct stat st{};
    return fstat(fd, &st) != 0 || st.st_nlink == 0;
}

// The names in an open folder but . and ..; nothing when it cannot be read.
std::optional<QList<QByteArray>> EntriesOf(int fd)
{
    // A description of its own: reading moves its offset, which the held one keeps.
    const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return std::nullopt;
    DIR *dir = fdopendir(copy);
    if (!dir) {
        close(copy);
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent *entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names << QByteArray(entry->d_name);
    closedir(dir);
    return names;
}

bool OnlyOwnEntries(int fd)
{
    const auto names = EntriesOf(fd);
    if (!names)
        return false;
    for (const QByteArray &name : *names) {
        struct stat st{};
        if (fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid())
            return false;
    }
    return true;
}

// What an earlier run left in an instance folder: its files go, never through a link.
void RemoveOwnFiles(int fd)
{
    for (const QByteArray &name : EntriesOf(fd).value_or(QList<QByteArray>{})) {
        struct stat st{};
        if (fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == geteuid() &&
            !S_ISDIR(st.st_mode))
            unlinkat(fd, name.constData(), 0);
    }
}

// Whether everything an open folder holds, to kMostDepth levels, is this
// user's; with bRemove it is removed as well, each folder after its contents.
bool OwnTree(int fd, int depth, bool bRemove)
{
    const auto names = EntriesOf(fd);
    if (!names || depth > kMostDepth)
        return false;
    for (const QByteArray &name : *names) {
        struct stat st{};
        if (fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid())
            return false;
        if (S_ISDIR(st.st_mode)) {
            const OpenFolder inner = OpenAt(fd, name);
            if (!inner || !OwnTree(inner->Fd(), depth + 1, bRemove))
                return false;
        }
        if (bRemove && unlinkat(fd, name.constData(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0)
            return false;
    }
    return true;
}

bool SameFolder(int at, const QByteArray &name, const struct stat &known)
{
    struct stat now{};
    return fstatat(at, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == known.st_dev &&
           now.st_ino == known.st_ino;
}

// An instance folder, open as fd, goes with what it holds; never one somebody
// put in its place meanwhile.
void RemoveInstanceFolder(int baseFd, const QByteArray &name, int fd)
{
    struct stat st{};
    if (fstat(fd, &st) == 0 && OwnTree(fd, 0, true) && SameFolder(baseFd, name, st))
        unlinkat(baseFd, name.constData(), AT_REMOVEDIR);
}

// The folders of instances that ended without taking theirs away (a crash, a
// kill) go; those held by running instances stay.
void RemoveForsakenInstances(int baseFd)
{
    for (const QByteArray &name : EntriesOf(baseFd).value_or(QList<QByteArray>{})) {
        const OpenFolder folder = OpenAt(baseFd, name);
        if (folder && flock(folder->Fd(), LOCK_EX | LOCK_NB) == 0 && ClosedFolder(folder->Fd()))
            RemoveInstanceFolder(baseFd, name, folder->Fd());
    }
}

void RemoveIfForsaken(int tmpFd, const QByteArray &name)
{
    const OpenFolder folder = OpenAt(tmpFd, name);
    struct stat st{};
    if (!folder || fstat(folder->Fd(), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 07777) != 0700)
        return;
    // A running instance holds its base shared: then the exclusive lock is refused.
    if (flock(folder->Fd(), LOCK_EX | LOCK_NB) != 0 || !OwnTree(folder->Fd(), 0, false))
        return;
    OwnTree(folder->Fd(), 0, true);
    // Only the folder just emptied, not one somebody put in its place meanwhile.
    if (SameFolder(tmpFd, name, st))
        unlinkat(tmpFd, name.constData(), AT_REMOVEDIR);
}

QByteArray RandomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(6, '\0');
    for (char &c : suffix)
        c = letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
    return suffix;
}

// A held base: its name in the temporary folder and the open folder, locked shared.
struct Base
{
    QByteArray name;
    OpenFolder folder;
};

// A shared lock marks the base in use; a base a cleaner removed before it
// could be locked is refused.
bool HoldBase(const OpenFolder &folder)
{
    return folder && flock(folder->Fd(), LOCK_SH | LOCK_NB) == 0 && ClosedFolder(folder->Fd());
}

std::optional<Base> MakeFallbackBase(int tmpFd)
{
    for (int attempt = 0; attempt < kFallbackAttempts; ++attempt) {
        Base base{OwnBaseName() + '.' + RandomSuffix(), nullptr};
        if (mkdirat(tmpFd, base.name.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        base.folder = OpenAt(tmpFd, base.name);
        if (HoldBase(base.folder))
            return base;
    }
    return std::nullopt;
}

std::optional<Base> TakeBase(int tmpFd, bool &bFallback)
{
    Base base{OwnBaseName(), nullptr};
    if (mkdirat(tmpFd, base.name.constData(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    base.folder = OpenAt(tmpFd, base.name);
    // Nobody else can add to a closed folder of ours: its entries are checked once, here.
    bFallback = !(base.folder && ClosedFolder(base.folder->Fd()) && OnlyOwnEntries(base.folder->Fd()) &&
                  HoldBase(base.folder));
    return bFallback ? MakeFallbackBase(tmpFd) : std::optional(base);
}

// The folder taken for this run, and what it was taken for.
struct Chosen
{
    std::mutex mutex;
    QString tmp;
    QString name;
    QString path;
    OpenFolder base;
    OpenFolder instance;
};

Chosen &TheChosen()
{
    static Chosen chosen;
    return chosen;
}

void Choose(Chosen &chosen)
{
    const QByteArray tmp = QFile::encodeName(chosen.tmp);
    const int tmpFd = open(tmp.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0)
        return;
    const cOpenFolder tmpFolder(tmpFd);
    RemoveForsakenFallbacks(tmpFd);
    bool fallback = false;
    const auto base = TakeBase(tmpFd, fallback);
    if (base)
        RemoveForsakenInstances(base->folder->Fd());
    const auto instance = base ? TakeInstanceFolder(base->folder->Fd(), chosen.name) : std::nullopt;
    if (!instance)
        return;
    chosen.base = base->folder;
    chosen.instance = instance->folder;
    const QString prefix = chosen.tmp.endsWith(QLatin1Char('/')) ? chosen.tmp : chosen.tmp + QLatin1Char('/');
    chosen.path = prefix + QFile::decodeName(base->name) + QLatin1Char('/') + instance->sName;
    if (fallback)
        std::fprintf(stderr,
                     "vorsk: %s is not this user's alone (a link, open to others or holding their files); "
                     "the pictures of this run go to %s\n",
                     (tmp + (tmp.endsWith('/') ? "" : "/") + OwnBaseName()).constData(),
                     QFile::encodeName(chosen.path).constData());
}

} // namespace

QString InstanceFolderName(const QString &sSettingsFile)
{
    if (sSettingsFile.isEmpty())
        return QStringLiteral("default");
    const QString absolute = QDir::cleanPath(QFileInfo(sSettingsFile).absoluteFilePath());
    QString name = QFileInfo(absolute).fileName();
    if (name.endsWith(QStringLiteral(".conf")))
        name.chop(5);
    if (name.size() > kMostSettingsNameChars)
        name.truncate(name.at(kMostSettingsNameChars - 1).isHighSurrogate() ? kMostSettingsNameChars - 1
                                                                             : kMostSettingsNameChars);
    const QByteArray hash = QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha256).toHex();
    return name + QLatin1Char('-') + QString::fromLatin1(hash.left(8));
}

std::optional<InstanceFolder> TakeInstanceFolder(int baseFd, const QString &sName)
{
    for (int number = 1; number <= kMostInstances; ++number) {
        const QString name = number == 1 ? sName : sName + QLatin1Char('.') + QString::number(number);
        const QByteArray encoded = QFile::encodeName(name);
        if (mkdirat(baseFd, encoded.constData(), 0700) != 0 && errno != EEXIST)
            return std::nullopt;
        const OpenFolder folder = OpenAt(baseFd, encoded);
        // Held by another running instance: the lock is refused, the next one
        // is tried; so is one an ending instance took away meanwhile.
        if (!folder || flock(folder->Fd(), LOCK_EX | LOCK_NB) != 0 || !ClosedFolder(folder->Fd()))
            continue;
        RemoveOwnFiles(folder->Fd());
        return InstanceFolder{folder, name};
    }
    return std::nullopt;
}

void RemoveForsakenFallbacks(int tmpFd)
{
    const QByteArray prefix = OwnBaseName() + '.';
    for (const QByteArray &name : EntriesOf(tmpFd).value_or(QList<QByteArray>{}))
        if (name.startsWith(prefix))
            RemoveIfForsaken(tmpFd, name);
}

QString PrivateTempFolder()
{
    QString tmp = qEnvironmentVariable("TMPDIR");
    if (!tmp.startsWith(QLatin1Char('/')))
        tmp = QStringLiteral("/tmp");
    while (tmp.size() > 1 && tmp.endsWith(QLatin1Char('/')))
        tmp.chop(1);
    const QString name = InstanceFolderName(NamedSettingsFile());
    Chosen &chosen = TheChosen();
    const std::lock_guard lock(chosen.mutex);
    if (chosen.tmp != tmp || chosen.name != name || !chosen.instance || Gone(chosen.instance->Fd())) {
        // Let go first, so that the folder given up is free for the choice.
        chosen.instance.reset();
        chosen.base.reset();
        chosen.path.clear();
        chosen.tmp = tmp;
        chosen.name = name;
        Choose(chosen);
    }
    return chosen.path;
}

void RemovePrivateTempFolder()
{
    Chosen &chosen = TheChosen();
    const std::lock_guard lock(chosen.mutex);
    if (chosen.instance && chosen.base)
        RemoveInstanceFolder(chosen.base->Fd(), QFile::encodeName(QFileInfo(chosen.path).fileName()),
                             chosen.instance->Fd());
    chosen.instance.reset();
    chosen.base.reset();
    chosen.path.clear();
}

OpenFolder HeldPrivateFolder(const QString &sFolder)
{
    Chosen &chosen = TheChosen();
    const std::lock_guard lock(chosen.mutex);
    return chosen.instance && sFolder == chosen.path ? chosen.instance : nullptr;
}
