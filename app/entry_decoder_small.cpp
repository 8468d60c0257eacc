// The built-in program's ways: the stored bytes in a block of their own, unpacked by the
// small decoder into another; every read asked of the file; folders made by their whole
// names, each part looked at again for every entry.
#include "app/archive_source.h"
#include "app/entry_decoder.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "platform/file.h"
#include "runtime/workspace.h"

UnpackResult archive_unpack(const ArchiveSource& source, const ArchiveItem& item, uint8_t** data) {
  const uint32_t stored_size = item.header.stored_size;
  const uint32_t unpacked_size = item.header.unpacked_size;
  uint8_t* stored = nullptr;
  UnpackResult result = archive_read_at_end(source, item, stored_size, &stored);
  *data = stored;
  if (result != UnpackResult::ok || pack_entry_is_stored(item.header)) return result;
  *data = nullptr;
  uint8_t* unpacked = nullptr;
  if (!archive_block_sound(item, stored))
    result = UnpackResult::corrupt;
  else if (!(unpacked = archive_new_block(unpacked_size)))
    result = UnpackResult::no_memory;
  else if (jc_decode_compact_checked(stored, stored_size, unpacked, unpacked_size).status !=
           JcStatus::ok)
    result = UnpackResult::corrupt;
  main_heap_free(stored);
  if (result == UnpackResult::ok)
    *data = unpacked;
  else
    main_heap_free(unpacked);
  return result;
}

uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size) {
  return crc32_update(crc, bytes, size);
}

bool entry_folders_make(char* path, bool whole) {
  for (size_t i = 0; path[i] != 0; ++i) {
    if (path[i] != kEntryNameSeparator) continue;
    path[i] = 0;
    const bool made = platform_make_directory(path);
    path[i] = kEntryNameSeparator;
    if (!made) return false;
  }
  return !whole || platform_make_directory(path);
}

bool entry_folders_leave() {
  return true;
}

bool entry_source_read(const ArchiveSource& source, uint64_t offset, uint8_t* out, size_t count) {
  return archive_file_read_at(source.file, source.entries_offset + offset, out, count);
}

void entry_source_closed() {}

namespace {

/// The blocks being delivered: their source and where the next one starts.
struct SmallBlocks {
  const ArchiveSource* source;
  uint64_t offset;
  uint8_t* bytes;  ///< the block last delivered
};

SmallBlocks small_blocks;

}  // namespace

bool entry_blocks_start(const ArchiveSource& source) {
  small_blocks = SmallBlocks{&source, 0, nullptr};
  return true;
}

UnpackResult entry_blocks_next(PackEntryHeader* header, uint8_t** bytes) {
  main_heap_free(small_blocks.bytes);
  const UnpackResult result =
      archive_block_unpack(*small_blocks.source, &small_blocks.offset, header, &small_blocks.bytes);
  *bytes = small_blocks.bytes;
  return result;
}

void entry_blocks_stop() {
  main_heap_free(small_blocks.bytes);
  small_blocks = SmallBlocks{};
}
