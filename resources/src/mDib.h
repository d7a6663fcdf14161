#pragma once
// A device-independent bitmap as a bitmap resource holds it: a BITMAPINFOHEADER followed by
// the pixels, rows bottom first, each padded to a multiple of 4 bytes.

#include <cstdint>
#include <optional>
#include <span>

inline constexpr std::size_t DibHeaderSize = 40;

struct DibLayout
{
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t BytesPerScanLine = 0;
    std::span<const std::uint8_t> Pixels;
};

// The layout of an uncompressed, bottom-up, 24-bit DIB whose pixels are all present;
// nothing for any other bitmap.
std::optional<DibLayout> ParseDib24(std::span<const std::uint8_t> dib);
