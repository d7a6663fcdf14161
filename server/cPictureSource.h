#pragma once

#include "cAnswerBody.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <mutex>

#include <sys/types.h>

// The picture the server answers with: the bytes the capture cycle published
// last, or, where nothing is published (the window-less harnesses), the
// picture file, read again only when it has changed. Every answer holds its
// own reference to one never-changed buffer, so a picture replaced while it is
// being sent reaches that peer whole, and a thousand answers share one copy.
class cPictureSource
{
public:
    using Picture = std::shared_ptr<const QByteArray>;
    using Body = std::shared_ptr<const cAnswerBody>;

    // Any thread: the picture answered from now on (none: the file again).
    void Publish(const Picture &picture);
    // The published picture, else the file at sPath; an empty picture when
    // there is none (a missing file is created empty).
    Body Current(const QString &sPath);

private:
    Body FromFile(const QString &sPath);

    std::mutex m_mutex;
    Body m_published;
    // The file as read last, and what identifies that version of it.
    Body m_file;
    QString m_sFilePath;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_size = -1;
    timespec m_changed{}; // status change time: no writer can set it back
};
