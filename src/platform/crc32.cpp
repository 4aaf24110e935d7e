#include "platform/crc32.h"

#include <atomic>

namespace {

// Eight tables: table 0 is the classic byte-at-a-time table; table k
// advances a byte's contribution by k more bytes, so that eight bytes are
// folded in per step ("slicing by 8"), about eight times the speed of one
// byte per step. Built at the first use, on the heap: as data in the
// program they would cost its file 8 KiB (MinGW's -fdata-sections keeps even
// zeroed arrays in the file).
using Table = std::uint32_t[256];
std::atomic<const Table*> g_tables{nullptr};

const Table* BuildTables() {
  auto* t = new Table[8];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (int i = 0; i < 256; ++i)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

// The tables, built once for the process. Two threads that both find none
// both build them; the first to publish its own wins, the other frees its.
// Throws std::bad_alloc when there is no memory for them.
const Table* Tables() {
  const Table* t = g_tables.load(std::memory_order_acquire);
  if (t)
    return t;
  const Table* built = BuildTables();
  if (g_tables.compare_exchange_strong(t, built, std::memory_order_acq_rel))
    return built;
  delete[] built;
  return t;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const Table* t = Tables();
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t c = ~crc;
  for (; size >= 8; size -= 8, p += 8) {
    const std::uint32_t low = c ^ (static_cast<std::uint32_t>(p[0]) |
                                   static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
        t[4][low >> 24] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; --size, ++p)
    c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return ~c;
}
