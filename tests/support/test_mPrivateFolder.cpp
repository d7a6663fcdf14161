#include "TestFiles.h"
#include "TmpDirOverride.h"
#include "mPrivateFolder.h"
#include "mSafeFile.h"
#include "mSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Another process holding a lock on a folder until the object goes, as a
// second running instance would.
class LockHolder
{
public:
    LockHolder(const QString &folder, int operation)
    {
        const QByteArray path = QFile::encodeName(folder);
        int ready[2];
        if (pipe(ready) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // Only what this child opens itself may hold a lock: the folders the test holds stay the test's.
            close_range(3, unsigned(ready[1]) - 1, 0);
            close_range(unsigned(ready[1]) + 1, ~0u, 0);
            const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY);
            const char locked = fd >= 0 && flock(fd, operation) == 0 ? '1' : '0';
            (void)!write(ready[1], &locked, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char locked = '0';
        m_locked = m_pid > 0 && read(ready[0], &locked, 1) == 1 && locked == '1';
        close(ready[0]);
    }
    ~LockHolder()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;
    bool Locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

// The settings file named for the life of the object, then the default one again.
class SettingsFileOverride
{
public:
    explicit SettingsFileOverride(const QString &path) { UseSettingsFile(path); }
    ~SettingsFileOverride() { UseSettingsFile(QString()); }
};

QString OwnBase(const QTemporaryDir &tmp)
{
    return tmp.filePath(QStringLiteral("vorsk-%1").arg(getuid()));
}

void MakeFolder(const QString &path, mode_t mode)
{
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), mode), 0);
}

void WriteFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

QStringList EntriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

TEST(mPrivateFolder, FolderNamesFollowTheSettingsFile)
{
    EXPECT_EQ(InstanceFolderName(QString()), QStringLiteral("default"));
    const QString door = InstanceFolderName(QStringLiteral("/home/a/cams/door.conf"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^door-[0-9a-f]{8}$")).match(door).hasMatch()) << door.toStdString();
    EXPECT_EQ(InstanceFolderName(QStringLiteral("/home/a/cams/./door.conf")), door) << "the same file";
    EXPECT_NE(InstanceFolderName(QStringLiteral("/home/b/cams/door.conf")), door) << "another file of that name";
    EXPECT_EQ(InstanceFolderName(QStringLiteral("door.conf")),
              InstanceFolderName(QDir::current().filePath(QStringLiteral("door.conf"))));
    EXPECT_TRUE(InstanceFolderName(QStringLiteral("/x/yard")).startsWith(QStringLiteral("yard-")));
    EXPECT_LT(InstanceFolderName(QStringLiteral("/x/") + QString(300, QLatin1Char('n'))).size(), 80);
}

// A folder another running instance holds is never taken: the next free one
// is, and what an earlier run left in the folder taken is gone.
TEST(mPrivateFolder, EachInstanceHoldsAFolderOfItsOwn)
{
    QTemporaryDir tmp, outside;
    TmpDirOverride env(tmp.path());
    const QString base = OwnBase(tmp);
    MakeFolder(base + QStringLiteral("/default/keep"), 0700);
    ASSERT_EQ(chmod(QFile::encodeName(base).constData(), 0700), 0);
    ASSERT_EQ(chmod(QFile::encodeName(base + QStringLiteral("/default")).constData(), 0700), 0);
    for (const char *name : {"lastpic.jpg", "lastpic.bmp", "lastpic.jpg.tmp-1-0"})
        WriteFile(base + QStringLiteral("/default/") + QLatin1String(name), "an earlier run's");
    WriteFile(outside.filePath(QStringLiteral("mine")), "not the folder's");
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("mine")), base + QStringLiteral("/default/lastpic.png")));

    {
        LockHolder other(base + QStringLiteral("/default"), LOCK_EX);
        ASSERT_TRUE(other.Locked());
        EXPECT_EQ(PrivateTempFolder(), base + QStringLiteral("/default.2"));
        EXPECT_EQ(EntriesOf(base + QStringLiteral("/default")).size(), 5) << "the holder's files are the holder's";

        // In one process too: each hold is its own.
        const int baseFd = open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(baseFd, 0);
        const cOpenFolder baseFolder(baseFd);
        auto third = TakeInstanceFolder(baseFd, QStringLiteral("default"));
        ASSERT_TRUE(third);
        EXPECT_EQ(third->sName, QStringLiteral("default.3"));
        EXPECT_EQ(TakeInstanceFolder(baseFd, QStringLiteral("default"))->sName, QStringLiteral("default.4"));
        EXPECT_EQ(TakeInstanceFolder(baseFd, QStringLiteral("default"))->sName, QStringLiteral("default.4"))
            << "let go, it is free again";
    }

    // Another settings file, then the default one again, now nobody else
    // holds it: the folders nobody holds went meanwhile, with what they held.
    {
        SettingsFileOverride door(outside.filePath(QStringLiteral("door.conf")));
        EXPECT_TRUE(PrivateTempFolder().startsWith(base + QStringLiteral("/door-")));
    }
    EXPECT_EQ(PrivateTempFolder(), base + QStringLiteral("/default"));
    EXPECT_EQ(EntriesOf(base + QStringLiteral("/default")), QStringList());
    EXPECT_EQ(EntriesOf(base).filter(QStringLiteral("default.")), QStringList());
    EXPECT_EQ(FileContents(outside.filePath(QStringLiteral("mine"))), QByteArray("not the folder's"));
    EXPECT_EQ(OpenOwnFile(PrivateTempFolder() + QStringLiteral("/lastpic.jpg")), -1);
}

// Fallback folders no running instance holds go with their contents, never
// through a link; anything another user could have had a hand in stays.
TEST(mPrivateFolder, ForsakenFallbacksAreRemoved)
{
    QTemporaryDir tmp, outside;
    TmpDirOverride env(tmp.path());
    const QString base = OwnBase(tmp);
    WriteFile(outside.filePath(QStringLiteral("mine")), "kept");

    const QString forsaken = base + QStringLiteral(".aaaaaa");
    MakeFolder(forsaken + QStringLiteral("/default/deeper"), 0700);
    ASSERT_EQ(chmod(QFile::encodeName(forsaken).constData(), 0700), 0);
    WriteFile(forsaken + QStringLiteral("/default/lastpic.jpg"), "old");
    ASSERT_TRUE(QFile::link(outside.path(), forsaken + QStringLiteral("/default/deeper/out")));
    const QString held = base + QStringLiteral(".bbbbbb");
    MakeFolder(held + QStringLiteral("/default"), 0700);
    ASSERT_EQ(chmod(QFile::encodeName(held).constData(), 0700), 0);
    const QString loose = base + QStringLiteral(".cccccc");
    MakeFolder(loose, 0755);
    const QString link = base + QStringLiteral(".dddddd");
    ASSERT_TRUE(QFile::link(outside.path(), link));
    const QString foreign = base + QStringLiteral(".eeeeee");
    MakeFolder(foreign, 0700);
    WriteFile(foreign + QStringLiteral("/theirs"), "x");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(QFile::encodeName(foreign + QStringLiteral("/theirs")).constData(), 65534, 65534), 0);
    }

    LockHolder instance(held, LOCK_SH);
    ASSERT_TRUE(instance.Locked());
    // The well-known folder is a link: this run takes a fallback of its own.
    ASSERT_TRUE(QFile::link(outside.path(), base));
    const QString folder = PrivateTempFolder();
    ASSERT_TRUE(folder.startsWith(base + QLatin1Char('.'))) << folder.toStdString();
    const QString mine = QFileInfo(folder).path();

    EXPECT_FALSE(QFileInfo::exists(forsaken));
    EXPECT_EQ(EntriesOf(outside.path()), QStringList{QStringLiteral("mine")}) << "nothing behind a link touched";
    EXPECT_TRUE(QFileInfo::exists(held + QStringLiteral("/default")));
    EXPECT_TRUE(QFileInfo::exists(loose));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    if (root) {
        EXPECT_TRUE(QFileInfo::exists(foreign + QStringLiteral("/theirs"))) << "another user's file inside";
    }

    // This run's own fallback is in use while it runs, and forsaken once it has gone.
    const int tmpFd = open(QFile::encodeName(tmp.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(tmpFd, 0);
    const cOpenFolder tmpFolder(tmpFd);
    RemoveForsakenFallbacks(tmpFd);
    EXPECT_TRUE(QFileInfo::exists(folder));
    {
        QTemporaryDir elsewhere;
        TmpDirOverride away(elsewhere.path());
        EXPECT_TRUE(PrivateTempFolder().startsWith(elsewhere.path()));
    }
    RemoveForsakenFallbacks(tmpFd);
    EXPECT_FALSE(QFileInfo::exists(mine));
    EXPECT_TRUE(QFileInfo::exists(held + QStringLiteral("/default")));
}

// With TMPDIR open to all and not sticky, another user can rename this run's
// folder away and put one of theirs in its place: the pictures still go to,
// and come from, the folder this run took.
TEST(mPrivateFolder, AFolderSwappedInIsNeverUsed)
{
    QTemporaryDir tmp;
    ASSERT_EQ(chmod(QFile::encodeName(tmp.path()).constData(), 0777), 0);
    TmpDirOverride env(tmp.path());
    const QString folder = PrivateTempFolder();
    const QString base = OwnBase(tmp);
    ASSERT_EQ(folder, base + QStringLiteral("/default"));

    const QString moved = tmp.filePath(QStringLiteral("moved"));
    ASSERT_EQ(rename(QFile::encodeName(base).constData(), QFile::encodeName(moved).constData()), 0);
    MakeFolder(folder, 0777);
    ASSERT_EQ(chmod(QFile::encodeName(base).constData(), 0777), 0);
    WriteFile(folder + QStringLiteral("/lastpic.bmp"), "planted");

    ASSERT_EQ(PrivateTempFolder(), folder) << "the folder taken is still there, under another name";
    EXPECT_EQ(ReplaceFileContents(folder + QStringLiteral("/lastpic.jpg"), "ours", 4, true), 0);
    CreateEmptyFile(folder + QStringLiteral("/empty"));
    EXPECT_EQ(EntriesOf(folder), QStringList{QStringLiteral("lastpic.bmp")}) << "nothing written into theirs";
    EXPECT_EQ(EntriesOf(moved + QStringLiteral("/default")),
              (QStringList{QStringLiteral("empty"), QStringLiteral("lastpic.jpg")}));
    EXPECT_EQ(FileContents(moved + QStringLiteral("/default/lastpic.jpg")), QByteArray("ours"));

    const int planted = OpenOwnFile(folder + QStringLiteral("/lastpic.bmp"));
    const int error = errno;
    EXPECT_EQ(planted, -1) << "theirs is never read";
    EXPECT_EQ(error, ENOENT);
    const int fd = OpenOwnFile(folder + QStringLiteral("/lastpic.jpg"));
    ASSERT_GE(fd, 0);
    char read4[5] = {};
    EXPECT_EQ(read(fd, read4, 4), 4);
    close(fd);
    EXPECT_STREQ(read4, "ours");
}
