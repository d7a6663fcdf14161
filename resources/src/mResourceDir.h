#pragma once
// The library's compiled-in resource directory: kind, id and language to bytes. Each
// wording's generated source defines ResourceDirectory.

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::uint16_t RT_BITMAP = 2;
inline constexpr std::uint16_t RT_STRING = 6;

struct ResourceEntry
{
    std::uint16_t Kind;
    std::uint16_t Id;
    std::uint16_t Language;
    const std::uint8_t *Data;
    std::uint32_t Size;
};

extern const ResourceEntry ResourceDirectory[];
extern const std::size_t ResourceDirectorySize;

// The bytes of resource id of that kind in language; language 0 means no preference and
// takes the first language the library carries for it. Empty when there is none.
std::span<const std::uint8_t> FindResourceData(std::uint16_t kind, std::int64_t id,
                                               std::int32_t language);
