#include "mStringTable.h"

namespace {

std::uint16_t ReadLittle16(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] << 8));
}

} // namespace

std::int64_t StringBlockOf(std::int32_t ResourceID)
{
    const std::int64_t id = ResourceID;
    const std::int64_t quotient = id >= 0 ? id / StringsPerBlock
                                          : -((-id + StringsPerBlock - 1) / StringsPerBlock);
    return quotient + 1;
}

std::span<const std::uint8_t> FindStringInBlock(std::span<const std::uint8_t> block,
                                                std::int64_t blockNumber,
                                                std::int32_t ResourceID)
{
    std::size_t pos = 0;
    std::int64_t entryID = (blockNumber - 1) * StringsPerBlock;
    for (int entry = 0; entry < StringsPerBlock; ++entry, ++entryID) {
        if (pos + 2 > block.size())
            return {};
        const std::size_t bytes = 2u * ReadLittle16(block, pos);
        pos += 2;
        if (bytes > block.size() - pos)
            return {};
        if (bytes != 0 && entryID == ResourceID)
            return block.subspan(pos, bytes);
        pos += bytes;
    }
    return {};
}
