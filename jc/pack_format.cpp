#include "jc/pack_format.h"

#include <cstring>

#include "jc/jc_decode_internal.h"

PackEntryHeader pack_read_entry_header(const uint8_t* bytes) {
  return {jc_load_le32(bytes), jc_load_le32(bytes + 4)};
}

void pack_write_entry_header(uint8_t* out, const PackEntryHeader& header) {
  for (int i = 0; i < 4; ++i) {
    out[i] = uint8_t(header.unpacked_size >> (8 * i));
    out[4 + i] = uint8_t(header.stored_size >> (8 * i));
  }
}

PackWalk pack_walk_start(const uint8_t* archive, size_t size) {
  return {archive, size, 0};
}

PackWalkStep pack_walk_next(PackWalk& walk, PackEntryView* entry) {
  const size_t left = walk.size - walk.offset;
  if (left == 0) return PackWalkStep::end;
  entry->header_offset = walk.offset;
  if (left < kPackEntryHeaderSize) return PackWalkStep::truncated;
  entry->header = pack_read_entry_header(walk.archive + walk.offset);
  if (entry->header.stored_size > left - kPackEntryHeaderSize) return PackWalkStep::truncated;
  entry->data = walk.archive + walk.offset + kPackEntryHeaderSize;
  walk.offset += kPackEntryHeaderSize + entry->header.stored_size;
  return PackWalkStep::entry;
}

JcStatus pack_entry_unpack(const PackEntryView& entry, uint8_t* dest, size_t capacity,
                           JcCheckedDecoder decode) {
  const PackEntryHeader& h = entry.header;
  if (capacity < h.unpacked_size) return JcStatus::too_small;
  if (pack_entry_is_stored(h)) {
    if (h.stored_size > 0) std::memcpy(dest, entry.data, h.stored_size);
    return JcStatus::ok;
  }
  // The header's size bounds the output, whatever the block's own header claims.
  JcBlock block;
  if (!jc_read_header(entry.data, h.stored_size, &block)) return JcStatus::bad_magic;
  if (block.unpacked_size != h.unpacked_size) return JcStatus::size_mismatch;
  return decode(entry.data, h.stored_size, dest, h.unpacked_size).status;
}
