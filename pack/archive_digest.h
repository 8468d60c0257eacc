// The digest of a whole archive: its length and the CRC-32 of its bytes. The build records
// it beside the archive it carries, and the program checks the carried bytes and the
// temporary archive it wrote against it before any file is touched, so that damage
// anywhere in the archive (headers and stored entries included, which carry no check of
// their own) stops the run before it begins.
//
// CRC-32 here is the common reflected one: polynomial 0xEDB88320, register started at all
// ones and inverted at the end; "123456789" gives 0xCBF43926.
#pragma once

#include <cstddef>
#include <cstdint>

struct ArchiveDigest {
  uint32_t size;   ///< the archive's length in bytes
  uint32_t crc32;  ///< CRC-32 of those bytes
};

inline constexpr uint32_t kCrc32Polynomial = 0xEDB88320;

/// The entry of the byte-at-a-time table for the byte `value`: the register `value` after
/// eight steps of the reflected polynomial.
constexpr uint32_t crc32_table_entry(uint32_t value) {
  for (int bit = 0; bit < 8; ++bit)
    value = (value & 1) ? (value >> 1) ^ kCrc32Polynomial : value >> 1;
  return value;
}

/// Continues the CRC-32 `crc` (0 for none yet) over `size` more bytes and returns it; one
/// byte at a time, through a table of 1 KiB.
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t size);

/// crc32_update eight bytes at a time, through eight tables of 1 KiB each: the same
/// result, several times faster on long runs, for programs whose size is not budgeted.
uint32_t crc32_update_sliced(uint32_t crc, const uint8_t* bytes, size_t size);

/// The digest of `size` bytes at `bytes` (null only with size 0).
ArchiveDigest archive_digest_of(const uint8_t* bytes, uint32_t size);

/// Whether two digests are the same.
inline bool archive_digest_equal(const ArchiveDigest& a, const ArchiveDigest& b) {
  return a.size == b.size && a.crc32 == b.crc32;
}
