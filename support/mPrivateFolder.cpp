#include "mPrivateFolder.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder of this user, closed to everybody else.
bool ClosedFolder(const QByteArray &path)
{
    struct stat st{};
    return lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// Whether every entry of the folder belongs to this user.
bool HoldsOnlyOwnEntries(const QByteArray &path)
{
    DIR *dir = opendir(path.constData());
    if (!dir)
        return false;
    bool own = true;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st{};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid()) {
            own = false;
            break;
        }
    }
    closedir(dir);
    return own;
}

// The folder taken for this run, and the temporary folder it lies in.
struct Chosen
{
    std::mutex mutex;
    QString base;
    QString folder;
};

Chosen &TheChosen()
{
    static Chosen chosen;
    return chosen;
}

QString Adopt(const QString &base)
{
    const QString wellKnown = base + QStringLiteral("/vorsk-%1").arg(geteuid());
    const QByteArray path = QFile::encodeName(wellKnown);
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    if (ClosedFolder(path) && HoldsOnlyOwnEntries(path))
        return wellKnown;
    QByteArray fresh = path + ".XXXXXX";
    if (!mkdtemp(fresh.data()))
        return {};
    const QString folder = QFile::decodeName(fresh);
    std::fprintf(stderr, "vorsk: %s is not this user's alone (a link, open to others or holding their files); "
                         "the pictures of this run go to %s\n",
                 path.constData(), fresh.constData());
    return folder;
}

} // namespace

QString PrivateTempFolder()
{
    QString base = qEnvironmentVariable("TMPDIR");
    if (!base.startsWith(QLatin1Char('/')))
        base = QStringLiteral("/tmp");
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    Chosen &chosen = TheChosen();
    const std::lock_guard lock(chosen.mutex);
    // Nobody else can add to a closed folder of ours: its entries were checked when it was taken.
    if (chosen.base != base || chosen.folder.isEmpty() || !ClosedFolder(QFile::encodeName(chosen.folder))) {
        chosen.base = base;
        chosen.folder = Adopt(base);
    }
    return chosen.folder;
}
