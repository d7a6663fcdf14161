#include "cAnswerBody.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A memory file holding the bytes, sealed against every change; -1 when one
// cannot be made.
int SealedFile(const QByteArray &bytes)
{
    const int file = memfd_create("vorsk-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (file < 0)
        return -1;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(file, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            ::close(file);
            return -1;
        }
        done += wrote;
    }
    if (fcntl(file, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        ::close(file);
        return -1;
    }
    return file;
}

} // namespace

cAnswerBody::cAnswerBody(QByteArray bytes, int file, qsizetype size)
    : m_bytes(std::move(bytes)), m_file(file), m_size(size)
{
}

cAnswerBody::~cAnswerBody()
{
    if (m_file >= 0)
        ::close(m_file);
}

std::shared_ptr<const cAnswerBody> cAnswerBody::InMemory(QByteArray bytes)
{
    const qsizetype size = bytes.size();
    return std::shared_ptr<const cAnswerBody>(new cAnswerBody(std::move(bytes), -1, size));
}

std::shared_ptr<const cAnswerBody> cAnswerBody::InFile(const QByteArray &bytes)
{
    const int file = bytes.isEmpty() ? -1 : SealedFile(bytes);
    if (file < 0)
        return InMemory(bytes);
    return std::shared_ptr<const cAnswerBody>(new cAnswerBody(QByteArray(), file, bytes.size()));
}
