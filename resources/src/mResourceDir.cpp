#include "mResourceDir.h"

std::span<const std::uint8_t> FindResourceData(std::uint16_t kind, std::int64_t id,
                                               std::int32_t language)
{
    for (std::size_t i = 0; i < ResourceDirectorySize; ++i) {
        const ResourceEntry &entry = ResourceDirectory[i];
        if (entry.Kind == kind && entry.Id == id && (language == 0 || entry.Language == language))
            return {entry.Data, entry.Size};
    }
    return {};
}
