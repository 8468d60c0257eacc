#include "pack/archive_digest.h"

namespace {

constexpr int kTableSize = 256;

/// The byte-at-a-time table of the reflected polynomial, made by the compiler.
struct Crc32Table {
  uint32_t entries[kTableSize];
  constexpr Crc32Table() : entries() {
    for (uint32_t i = 0; i < kTableSize; ++i) entries[i] = crc32_table_entry(i);
  }
};

constexpr Crc32Table kCrc32Table;

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t size) {
  uint32_t c = ~crc;
  for (size_t i = 0; i < size; ++i) c = kCrc32Table.entries[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

ArchiveDigest archive_digest_of(const uint8_t* bytes, uint32_t size) {
  return {size, size ? crc32_update(0, bytes, size) : 0};
}
