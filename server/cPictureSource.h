#pragma once

#include "cAnswerBody.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <ctime>
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

    // The picture with the time it was made: when it was published, or the
    // file's modification time.
    struct Shot
    {
        Body body;
        std::time_t modified = 0;
        // Its entity tag, from its bytes; and whether it is the only picture
        // published in its second, so its time alone tells it apart.
        QByteArray etag;
        bool soleInItsSecond = true;
    };

    // Any thread: the picture answered from now on (none: the file again);
    // bFromCamera when it shows a frame of the camera, not that there is none.
    void Publish(const Picture &picture, bool bFromCamera);
    // Whether the published picture is a frame of the camera taken at least
    // lIntervalMs ago: one a request should not be given while a fresher can be had.
    bool Stale(qint64 lIntervalMs);
    // The published picture, else the file at sPath; an empty picture when
    // there is none (a missing file is created empty).
    Shot Latest(const QString &sPath);
    Body Current(const QString &sPath) { return Latest(sPath).body; }

private:
    Shot FromFile(const QString &sPath);

    std::mutex m_mutex;
    Shot m_published;
    bool m_bFromCamera = false;
    std::chrono::steady_clock::time_point m_publishedAt;
    // The file as read last, and what identifies that version of it.
    Shot m_file;
    QString m_sFilePath;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_size = -1;
    timespec m_changed{}; // status change time: no writer can set it back
};
