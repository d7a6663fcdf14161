#pragma once
// Turns a wording text file and the logo into the library's resource directory.
//
// A wording file is UTF-8 text. Blank lines and lines starting with "#" are comments.
// One line "language <LANGID>" names the language the string table is tagged with, and each
// text is a line "<ID> "<text>"": the text runs from the first to the last double quote and is
// taken exactly as written, so "\n" stays the two characters backslash and n.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Wording
{
    std::uint16_t Language = 0;
    std::map<std::int32_t, QString> Texts;
};

// The highest ID whose block number still fits the 16 bits of a resource name.
inline constexpr std::int32_t MaxStringID = 65535 * 16 - 1;

// The file's language and texts; nothing, with the reason in *error, for a faulty file.
std::optional<Wording> ParseWording(const QByteArray &content, QString *error);

// The string-table blocks holding the texts, by block number; blocks without texts are left out.
std::map<std::uint16_t, Bytes> BuildStringBlocks(const std::map<std::int32_t, QString> &texts);

// The bitmap resource (the file without its 14-byte file header) of a .bmp file that is
// width x height, 24 bits, uncompressed and bottom-up; nothing, with the reason, otherwise.
std::optional<Bytes> BitmapResourceFromFile(const QByteArray &bmp, int width, int height,
                                            QString *error);

// C++ source defining ResourceDirectory: the blocks and the logo as bitmap logoID, all
// tagged with language.
QByteArray ResourceDirectorySource(const std::map<std::uint16_t, Bytes> &blocks,
                                   const Bytes &logo, std::uint16_t logoID,
                                   std::uint16_t language);
