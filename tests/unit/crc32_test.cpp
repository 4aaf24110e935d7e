// CRC-32 against known values, and the same value whatever the blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/crc32.h"

namespace {

TEST(Crc32, KnownValuesAndAnyBlocks) {
  struct Row {
    std::string bytes;
    std::uint32_t crc;
  };
  const Row rows[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
      {std::string(1000, '\0'), 0x060B1780},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes.substr(0, 20));
    EXPECT_EQ(row.crc, Crc32(0, row.bytes.data(), row.bytes.size()));
    // Fed in pieces of every size from 1 to 17 bytes.
    for (std::size_t piece = 1; piece <= 17; ++piece) {
      std::uint32_t crc = 0;
      for (std::size_t at = 0; at < row.bytes.size(); at += piece)
        crc = Crc32(crc, row.bytes.data() + at,
                    std::min(piece, row.bytes.size() - at));
      EXPECT_EQ(row.crc, crc) << piece;
    }
  }
}

}  // namespace
