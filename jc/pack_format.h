// Pack archives: a plain sequence of entries from offset 0 to the end, with no archive
// header, count, names or directory. Each entry is an 8-byte PackEntryHeader followed by
// stored_size bytes: the entry's bytes themselves when stored_size equals unpacked_size,
// otherwise one JC block.
//
// This file holds the header layout and a walk over an archive held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jc/jc.h"

inline constexpr size_t kPackEntryHeaderSize = 8;

/// The header at the start of each entry (two little-endian u32).
struct PackEntryHeader {
  uint32_t unpacked_size;  ///< bytes of the entry after unpacking
  uint32_t stored_size;    ///< bytes that follow the header
};

/// Reads a header from kPackEntryHeaderSize bytes.
PackEntryHeader pack_read_entry_header(const uint8_t* bytes);

/// Writes `header` into kPackEntryHeaderSize bytes.
void pack_write_entry_header(uint8_t* out, const PackEntryHeader& header);

/// Whether the entry's data are its bytes as they are (not a JC block).
inline bool pack_entry_is_stored(const PackEntryHeader& header) {
  return header.stored_size == header.unpacked_size;
}

/// One entry of an archive in memory.
struct PackEntryView {
  size_t header_offset;  ///< where the entry's header starts in the archive
  PackEntryHeader header;
  const uint8_t* data;  ///< the stored_size bytes after the header
};

/// A walk over an archive in memory; start it with pack_walk_start.
struct PackWalk {
  const uint8_t* archive;
  size_t size;
  size_t offset;  ///< where the next header starts
};

enum class PackWalkStep : uint8_t {
  entry,      ///< an entry was delivered
  end,        ///< the archive ended exactly after the last entry
  truncated,  ///< the archive ends inside a header or inside an entry's data
};

/// A walk from the first entry of `size` bytes at `archive`.
PackWalk pack_walk_start(const uint8_t* archive, size_t size);

/// Delivers the next entry into `entry`. After `end` or `truncated` the walk stays there;
/// on `truncated`, entry->header_offset is where the incomplete entry starts.
PackWalkStep pack_walk_next(PackWalk& walk, PackEntryView* entry);

/// A JC block decoder that reports the reason of a failure: jc_decode_checked (the fast
/// one) or jc_decode_compact_checked (the small one); both give the same results.
using JcCheckedDecoder = JcResult (*)(const uint8_t* block, size_t block_size, uint8_t* dest,
                                      size_t dest_capacity);

/// Unpacks `entry` into `dest` (capacity bytes): copies a stored entry, decodes a JC block
/// with `decode` and checks that it unpacks to the header's size. Never writes beyond
/// `capacity`.
JcStatus pack_entry_unpack(const PackEntryView& entry, uint8_t* dest, size_t capacity,
                           JcCheckedDecoder decode = jc_decode_checked);
