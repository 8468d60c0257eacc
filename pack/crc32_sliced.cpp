// CRC-32 eight bytes at a time ("slicing"). Table k holds, for each byte value, the
// register after that byte followed by k zero bytes has been shifted through: the eight
// bytes of a step then each look up their own table, and the eight results are combined
// with exclusive or, instead of eight dependent lookups one after another.
#include "pack/archive_digest.h"

namespace {

constexpr int kSlices = 8;
constexpr int kTableSize = 256;

/// The tables, made at the first call rather than stored in the program's file, where
/// they would take 8 KiB.
struct SlicedTables {
  uint32_t t[kSlices][kTableSize];
  bool made;
};

SlicedTables sliced;

void make_tables() {
  auto& t = sliced.t;
  for (uint32_t i = 0; i < kTableSize; ++i) t[0][i] = crc32_table_entry(i);
  for (int k = 1; k < kSlices; ++k)
    for (uint32_t i = 0; i < kTableSize; ++i)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  sliced.made = true;
}

uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t crc32_update_sliced(uint32_t crc, const uint8_t* bytes, size_t size) {
  if (!sliced.made) make_tables();
  const auto& t = sliced.t;
  uint32_t c = ~crc;
  for (; size >= kSlices; size -= kSlices, bytes += kSlices) {
    const uint32_t low = c ^ load_le32(bytes);
    const uint32_t high = load_le32(bytes + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; --size) c = t[0][(c ^ *bytes++) & 0xFF] ^ (c >> 8);
  return ~c;
}
