#pragma once

#include <QByteArray>
#include <memory>

// The bytes of an answer, never changed once made. A picture is kept in a
// sealed memory file, so the kernel sends it to any number of peers without
// the server copying it; short texts, or a picture where no such file can be
// made, are kept in memory.
class cAnswerBody
{
public:
    static std::shared_ptr<const cAnswerBody> InMemory(QByteArray bytes);
    static std::shared_ptr<const cAnswerBody> InFile(const QByteArray &bytes);
    ~cAnswerBody();
    cAnswerBody(const cAnswerBody &) = delete;
    cAnswerBody &operator=(const cAnswerBody &) = delete;

    qsizetype Size() const { return m_size; }
    // The sealed file, or -1 when the bytes are in memory.
    int File() const { return m_file; }
    const char *Data() const { return m_bytes.constData(); }

private:
    cAnswerBody(QByteArray bytes, int file, qsizetype size);

    QByteArray m_bytes;
    int m_file = -1;
    qsizetype m_size = 0;
};
