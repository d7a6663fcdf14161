#pragma once

#include <QByteArray>
#include <QString>

// One candidate wording library, opened and checked before anything of it is mapped. The
// dynamic loader maps a library's segments straight from the file, and touching a page past
// the end of a file cut short kills the program (SIGBUS) before it can say a word; so only a
// regular file holding a whole ELF shared object of this build's class and byte order, whose
// headers and segments all lie inside it, is handed to dlopen.
class cLibraryFile
{
public:
    // Opens sPath without blocking (a FIFO or a device is refused, never waited on) and
    // checks it.
    explicit cLibraryFile(const QString &sPath);
    ~cLibraryFile();
    cLibraryFile(const cLibraryFile &) = delete;
    cLibraryFile &operator=(const cLibraryFile &) = delete;

    // dlopen of the checked file, through its descriptor under /proc so that a file put in
    // its place since the check is not the one loaded (by the path where /proc is missing).
    // Null, with the reason in *why, when the file failed the check or the loader refuses it.
    void *Load(QString *why);

private:
    QByteArray LoadName() const;
    bool StillLoaded() const;

    QString m_sPath;
    int m_fd = -1;
    QString m_sFault;
    QByteArray m_loadedName;
};
