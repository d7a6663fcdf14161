#include "LangTestSupport.h"
#include "TestFiles.h"
#include "cError.h"
#include "cResourceLibrary.h"

#include <cstring>
#include <elf.h>
#include <functional>
#include <sys/stat.h>
#include <type_traits>

namespace {

constexpr bool Is64 = sizeof(void *) == 8;
using Ehdr = std::conditional_t<Is64, Elf64_Ehdr, Elf32_Ehdr>;
using Phdr = std::conditional_t<Is64, Elf64_Phdr, Elf32_Phdr>;

const QString Built = QStringLiteral(VORSKRES_LIBRARY);

// Why Open refused path alone; fails the test when it loaded it.
QString Refusal(const QString &path)
{
    try {
        cResourceLibrary::Open({path});
    } catch (const cError &error) {
        return error.Description();
    }
    ADD_FAILURE() << "loaded " << path.toStdString();
    return {};
}

// The built library with its ELF header changed by change.
QByteArray WithHeader(const std::function<void(Ehdr &)> &change)
{
    QByteArray bytes = FileContents(Built);
    Ehdr header;
    std::memcpy(&header, bytes.constData(), sizeof header);
    change(header);
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

// The built library with the first program header of type changed by change.
QByteArray WithSegment(std::uint32_t type, const std::function<void(Phdr &)> &change)
{
    QByteArray bytes = FileContents(Built);
    Ehdr header;
    std::memcpy(&header, bytes.constData(), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        char *at = bytes.data() + header.e_phoff + i * sizeof(Phdr);
        Phdr segment;
        std::memcpy(&segment, at, sizeof segment);
        if (segment.p_type == type) {
            change(segment);
            std::memcpy(at, &segment, sizeof segment);
            return bytes;
        }
    }
    ADD_FAILURE() << "no segment of type " << type;
    return bytes;
}

} // namespace

// Mapping a library cut short used to kill the program with SIGBUS inside dlopen; every cut
// must be refused before anything is mapped. The copy is cut shorter and shorter in place.
TEST(LibraryFile, EveryCutOfTheBuiltLibraryIsRefused)
{
    QTemporaryDir dir;
    const QString cut = Place(Built, dir.path());
    QFile file(cut);
    const qint64 size = file.size();
    ASSERT_GT(size, 61336);

    QList<qint64> cuts = {size - 1, size / 2, 61336, 4096, 1000, 65, 64, 63, 1, 0};
    for (qint64 at = size - 2; at > 0; at -= 97)
        cuts << at;
    std::sort(cuts.begin(), cuts.end(), std::greater<>());
    for (const qint64 at : cuts) {
        ASSERT_TRUE(file.resize(at));
        const QString reason = Refusal(cut);
        const QString expected = at < qint64(sizeof(Ehdr))
                                     ? QStringLiteral(": too short to be a library")
                                     : QStringLiteral(": cut short or damaged");
        ASSERT_TRUE(reason.contains(cut + expected)) << at << ": " << reason.toStdString();
    }
}

TEST(LibraryFile, DamagedHeadersAreRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("libvorskres.so"));
    const std::pair<QByteArray, const char *> damaged[] = {
        {QByteArray(4096, '\x7f'), "not a library (no ELF header)"},
        {WithHeader([](Ehdr &h) { h.e_ident[EI_CLASS] = Is64 ? ELFCLASS32 : ELFCLASS64; }),
         "not a shared library for this system"},
        {WithHeader([](Ehdr &h) { h.e_ident[EI_DATA] ^= ELFDATA2LSB ^ ELFDATA2MSB; }),
         "not a shared library for this system"},
        {WithHeader([](Ehdr &h) { h.e_type = ET_EXEC; }), "not a shared library for this system"},
        {WithHeader([](Ehdr &h) { h.e_phnum = PN_XNUM; }), "program headers make no sense"},
        {WithHeader([](Ehdr &h) { h.e_phentsize += 8; }), "program headers make no sense"},
        {WithHeader([](Ehdr &h) { h.e_phoff = decltype(h.e_phoff)(-16); }), "cut short or damaged"},
        {WithHeader([](Ehdr &h) { h.e_shnum = 0xFFFF; }), "cut short or damaged"},
        {WithSegment(PT_LOAD, [](Phdr &s) { s.p_filesz = decltype(s.p_filesz)(-1); }),
         "cut short or damaged"},
        {WithSegment(PT_DYNAMIC, [](Phdr &s) { s.p_vaddr += 0x10000000; }),
         "no dynamic section among its loaded bytes"},
        {WithSegment(PT_DYNAMIC, [](Phdr &s) { s.p_type = PT_NULL; }),
         "no dynamic section among its loaded bytes"},
    };
    for (const auto &[bytes, expected] : damaged) {
        WriteFile(path, bytes);
        const QString reason = Refusal(path);
        EXPECT_TRUE(reason.contains(QLatin1String(expected)))
            << expected << ": " << reason.toStdString();
    }
}

// A FIFO without a writer, a directory and a device are refused at once, never read from.
TEST(LibraryFile, WhatIsNoRegularFileIsRefusedWithoutWaiting)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")})
        EXPECT_TRUE(Refusal(path).contains(path + QStringLiteral(": not a regular file")))
            << path.toStdString();

    // The whole library after them is taken.
    const QString whole = Place(Built, dir.filePath(QStringLiteral("whole")));
    const auto library = cResourceLibrary::Open({fifo, dir.path(), whole});
    EXPECT_EQ(library->Path(), whole);
    EXPECT_FALSE(library->Loadresstring(104).isEmpty());
}
