#pragma once
// The Windows string-table block layout: IDs are grouped in blocks of 16, block n holding
// IDs (n - 1) * 16 to n * 16 - 1; a block is 16 entries in ID order, each a 16-bit
// little-endian length followed by that many UTF-16LE code units, an absent ID having
// length 0.

#include <cstdint>
#include <span>

inline constexpr int StringsPerBlock = 16;

// The block that holds ResourceID: floor(ResourceID / 16) + 1, also for negative IDs.
std::int64_t StringBlockOf(std::int32_t ResourceID);

// Walks a block entry by entry and returns the UTF-16LE bytes of ResourceID's text; empty
// when the block does not hold it or is cut short.
std::span<const std::uint8_t> FindStringInBlock(std::span<const std::uint8_t> block,
                                                std::int64_t blockNumber,
                                                std::int32_t ResourceID);
