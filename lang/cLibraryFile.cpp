#include "cLibraryFile.h"

#include <QFile>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

// The ELF kind this program is built as; a library of another kind could not serve it.
constexpr bool Is64 = sizeof(void *) == 8;
using Ehdr = std::conditional_t<Is64, Elf64_Ehdr, Elf32_Ehdr>;
using Phdr = std::conditional_t<Is64, Elf64_Phdr, Elf32_Phdr>;
using Shdr = std::conditional_t<Is64, Elf64_Shdr, Elf32_Shdr>;
constexpr unsigned char NativeClass = Is64 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char NativeData =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;

QString OpenFault(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("no such file");
    return QString::fromStdString(std::generic_category().message(error));
}

QString CutShort(std::uint64_t size)
{
    return QStringLiteral("cut short or damaged: part of it lies past its end (%1 bytes)")
        .arg(size);
}

// Whether length bytes from offset lie inside a file of size bytes.
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    return offset <= size && length <= size - offset;
}

bool ReadAt(int fd, std::uint64_t offset, void *buffer, std::size_t length)
{
    auto *bytes = static_cast<char *>(buffer);
    while (length > 0) {
        const ssize_t got = pread(fd, bytes, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        offset += std::uint64_t(got);
        length -= std::size_t(got);
    }
    return true;
}

// The section table is not loaded, but it is the last thing a linker writes: a file whose
// table is cut lost its tail. A file without one has e_shoff 0.
bool SectionTableInside(const Ehdr &header, std::uint64_t size)
{
    if (header.e_shoff == 0)
        return true;
    // With e_shnum 0 the count is kept in the first entry; that one at least must be there.
    const std::uint64_t count = std::max<std::uint64_t>(header.e_shnum, 1);
    return header.e_shentsize == sizeof(Shdr) && Inside(header.e_shoff, count * sizeof(Shdr), size);
}

// What is wrong with the ELF header of a file of size bytes; empty when nothing.
QString HeaderFault(const Ehdr &header, std::uint64_t size)
{
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return QStringLiteral("not a library (no ELF header)");
    if (header.e_ident[EI_CLASS] != NativeClass || header.e_ident[EI_DATA] != NativeData
        || header.e_ident[EI_VERSION] != EV_CURRENT || header.e_type != ET_DYN)
        return QStringLiteral("not a shared library for this system");
    if (header.e_phentsize != sizeof(Phdr) || header.e_phnum == 0 || header.e_phnum == PN_XNUM)
        return QStringLiteral("damaged: its program headers make no sense");
    if (!Inside(header.e_phoff, std::uint64_t(header.e_phnum) * sizeof(Phdr), size)
        || !SectionTableInside(header, size))
        return CutShort(size);
    return {};
}

// Whether the loaded segment load brings the bytes of part into memory from the file.
bool CarriesFromFile(const Phdr &load, const Phdr &part)
{
    return load.p_type == PT_LOAD && part.p_vaddr >= load.p_vaddr && part.p_filesz <= load.p_filesz
           && part.p_vaddr - load.p_vaddr <= load.p_filesz - part.p_filesz;
}

// What is wrong with the segments of a file of size bytes; empty when nothing. The dynamic
// section is read in memory, so it must lie in a loaded segment's part from the file.
QString SegmentFault(const std::vector<Phdr> &segments, std::uint64_t size)
{
    for (const Phdr &segment : segments) {
        if (!Inside(segment.p_offset, segment.p_filesz, size))
            return CutShort(size);
    }
    const auto dynamic =
        std::find_if(segments.begin(), segments.end(),
                     [](const Phdr &segment) { return segment.p_type == PT_DYNAMIC; });
    if (dynamic == segments.end()
        || std::none_of(segments.begin(), segments.end(),
                        [&](const Phdr &load) { return CarriesFromFile(load, *dynamic); }))
        return QStringLiteral("damaged: no dynamic section among its loaded bytes");
    return {};
}

QString ElfFault(int fd, std::uint64_t size)
{
    Ehdr header{};
    if (size < sizeof header)
        return QStringLiteral("too short to be a library (%1 bytes)").arg(size);
    if (!ReadAt(fd, 0, &header, sizeof header))
        return OpenFault(errno);
    if (QString fault = HeaderFault(header, size); !fault.isEmpty())
        return fault;
    std::vector<Phdr> segments(header.e_phnum);
    if (!ReadAt(fd, header.e_phoff, segments.data(), segments.size() * sizeof(Phdr)))
        return OpenFault(errno);
    return SegmentFault(segments, size);
}

QString FileFault(int fd)
{
    struct stat status{};
    if (fstat(fd, &status) != 0)
        return OpenFault(errno);
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    return ElfFault(fd, std::uint64_t(status.st_size));
}

} // namespace

cLibraryFile::cLibraryFile(const QString &sPath)
    : m_sPath(sPath),
      m_fd(open(QFile::encodeName(sPath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY))
{
    m_sFault = m_fd < 0 ? OpenFault(errno) : FileFault(m_fd);
}

// The dynamic loader knows a library by the name it was loaded by while the library stays
// mapped, and hands it out again for that name; so the descriptor stays open, its number
// never reused for another file, while the library is still loaded.
cLibraryFile::~cLibraryFile()
{
    if (m_fd >= 0 && !StillLoaded())
        close(m_fd);
}

void *cLibraryFile::Load(QString *why)
{
    if (!m_sFault.isEmpty()) {
        *why = m_sFault;
        return nullptr;
    }
    const QByteArray name = LoadName();
    void *hLibrary = dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!hLibrary) {
        *why = QString::fromLocal8Bit(dlerror()).replace(QString::fromLocal8Bit(name), m_sPath);
        return nullptr;
    }
    m_loadedName = name;
    return hLibrary;
}

// The descriptor's name under /proc when it reaches this very file; the path otherwise.
QByteArray cLibraryFile::LoadName() const
{
    const QByteArray byDescriptor = "/proc/self/fd/" + QByteArray::number(m_fd);
    struct stat named{};
    struct stat held{};
    if (stat(byDescriptor.constData(), &named) == 0 && fstat(m_fd, &held) == 0
        && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
        return byDescriptor;
    return QFile::encodeName(m_sPath);
}

bool cLibraryFile::StillLoaded() const
{
    if (m_loadedName.isEmpty())
        return false;
    void *hLibrary = dlopen(m_loadedName.constData(), RTLD_LAZY | RTLD_NOLOAD);
    if (hLibrary)
        dlclose(hLibrary);
    return hLibrary != nullptr;
}
