#pragma once

#include <QString>
#include <memory>
#include <optional>

// An open folder; its descriptor (and any lock taken on it) goes when the last
// user lets go of it.
class cOpenFolder
{
public:
    explicit cOpenFolder(int fd) : m_fd(fd) {}
    ~cOpenFolder();
    cOpenFolder(const cOpenFolder &) = delete;
    cOpenFolder &operator=(const cOpenFolder &) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};
using OpenFolder = std::shared_ptr<const cOpenFolder>;

// The folder of this run's pictures. Its base is $TMPDIR (else /tmp) followed
// by /vorsk-<uid>, made with mode 0700 when missing. A base found there that is
// not safely this user's alone (a link, no folder, another owner, open to
// others, or holding an entry of another owner) is left as it is, and a fresh
// base vorsk-<uid>.XXXXXX is made beside it (said on stderr): another local
// user may have planted what it holds. Inside the base every running instance
// holds a folder of its own, one per settings file (InstanceFolderName), the
// next free one of name, name.2, name.3 ... when another instance holds it.
// Both are opened once and kept open; files in them are only ever reached
// through the held descriptor (mSafeFile), never by a path someone could swap.
// Asked again, the same folder comes back while it exists; one that went away
// (a cleaner of temporary files) is replaced. Empty when no folder can be had.
QString PrivateTempFolder();

// At the end of the run: this instance's folder goes, with what it holds.
// Folders left by instances that ended otherwise (a crash) go at the next
// choice of a folder by any instance of this user's.
void RemovePrivateTempFolder();

// The held folder when sFolder is the path PrivateTempFolder() gave, else nothing.
OpenFolder HeldPrivateFolder(const QString &sFolder);

// The name of an instance's folder for the settings file it uses: "default"
// for the default file (sSettingsFile empty), else the file's base name without
// ".conf", "-" and 8 hex digits of a hash of its absolute path.
QString InstanceFolderName(const QString &sSettingsFile);

// The first of sName, sName.2, ... sName.100 in the open base folder that no
// running instance holds, made when missing, held (an exclusive lock on its
// descriptor) until the result is let go, and emptied of the files an earlier
// run left there.
struct InstanceFolder
{
    OpenFolder folder;
    QString sName;
};
std::optional<InstanceFolder> TakeInstanceFolder(int baseFd, const QString &sName);

// Removes, with what they hold, the fallback bases vorsk-<uid>.* in the open
// temporary folder that no running instance holds (a shared lock on the base
// marks it in use). Only this user's folders of mode 0700 are touched, never
// through a link, and only when nothing of another user is inside.
void RemoveForsakenFallbacks(int tmpFd);
