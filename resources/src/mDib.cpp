#include "mDib.h"

namespace {

std::uint32_t ReadLittle32(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return bytes[pos] | (bytes[pos + 1] << 8) | (bytes[pos + 2] << 16)
           | (static_cast<std::uint32_t>(bytes[pos + 3]) << 24);
}

std::uint16_t ReadLittle16(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] << 8));
}

// Pictures larger than this are not logos but damage.
constexpr std::int32_t MaxSide = 4096;

} // namespace

std::optional<DibLayout> ParseDib24(std::span<const std::uint8_t> dib)
{
    if (dib.size() < DibHeaderSize)
        return std::nullopt;
    const std::uint32_t headerSize = ReadLittle32(dib, 0);
    const auto width = static_cast<std::int32_t>(ReadLittle32(dib, 4));
    const auto height = static_cast<std::int32_t>(ReadLittle32(dib, 8));
    const std::uint16_t planes = ReadLittle16(dib, 12);
    const std::uint16_t bitCount = ReadLittle16(dib, 14);
    const std::uint32_t compression = ReadLittle32(dib, 16);
    const std::uint32_t coloursUsed = ReadLittle32(dib, 32);
    if (headerSize < DibHeaderSize || headerSize > dib.size() || planes != 1 || bitCount != 24
        || compression != 0 || coloursUsed > 256 || width <= 0 || width > MaxSide || height <= 0
        || height > MaxSide)
        return std::nullopt;

    const std::size_t offset = headerSize + 4u * coloursUsed;
    const std::int32_t stride = (width * 3 + 3) & ~3;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    if (offset > dib.size() || size > dib.size() - offset)
        return std::nullopt;
    return DibLayout{width, height, stride, dib.subspan(offset, size)};
}
