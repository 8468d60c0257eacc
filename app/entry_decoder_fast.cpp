// The stub's ways. The stored bytes are read into the end of the block the entry unpacks
// into, and the fast decoder unpacks them in place, from the block's start, since it reads
// its stream ahead of the bytes it writes: the block is little larger than the unpacked
// bytes.
//
// Folders: the folder of each entry is entered, part by part, and the entry is written by
// its last part. A folder entered is held as the current one, so no name given later can
// lead through a link that has taken the place of one of its parts, and an entry in the
// same folder as the one before it (most of them, as an archive lists a folder's files
// together) needs no work on its folders at all.
#include <cstring>

#include "app/archive_source.h"
#include "app/entry_decoder.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "platform/file.h"
#include "runtime/workspace.h"

namespace {

/// The folder now current, below the output folder, and how many parts deep it is;
/// kLostDepth once a step back up has failed: nothing more is written then.
struct EnteredFolder {
  char name[kEntryNameMaxSize + 1];
  uint32_t depth;
};

EnteredFolder entered_folder;
constexpr uint32_t kLostDepth = UINT32_MAX;
/// The name of a folder entered only part of the way, which no entry's folder has: the
/// next entry goes back up first.
constexpr char kPartlyEntered[] = {kEntryNameSeparator, 0};

/// Makes and enters each part of the zero-terminated folder name `folder`, counting them in
/// entered_folder.depth. False when one is a link or anything but a folder, or cannot be
/// made or entered.
bool enter_parts(char* folder) {
  for (char* part = folder;;) {
    char* end = std::strchr(part, kEntryNameSeparator);
    if (end) *end = 0;
    const bool entered = platform_make_directory(part) && platform_enter_directory(part);
    if (end) *end = kEntryNameSeparator;
    if (!entered) return false;
    ++entered_folder.depth;
    if (!end) return true;
    part = end + 1;
  }
}

/// Reads the item's JC block into the last bytes of a new block of `capacity` bytes and
/// checks it. A block above kArchiveUnprovenSize is read and walked alone first, and grown
/// into the block of `capacity` bytes only then.
UnpackResult read_block_at_end(const ArchiveSource& source, const ArchiveItem& item,
                               size_t capacity, uint8_t** block) {
  const uint32_t stored_size = item.header.stored_size;
  if (capacity == SIZE_MAX) return UnpackResult::no_memory;
  const bool proven = item.header.unpacked_size <= kArchiveUnprovenSize;
  const size_t first = proven ? capacity : stored_size;
  const UnpackResult read = archive_read_at_end(source, item, first, block);
  if (read != UnpackResult::ok) return read;
  UnpackResult result = UnpackResult::ok;
  if (!archive_block_sound(item, *block + first - stored_size)) {
    result = UnpackResult::corrupt;
  } else if (!proven) {
    auto* grown = static_cast<uint8_t*>(main_heap_realloc(*block, capacity));
    if (grown) {
      std::memmove(grown + capacity - stored_size, grown, stored_size);
      *block = grown;
    } else {
      result = UnpackResult::no_memory;
    }
  }
  if (result != UnpackResult::ok) {
    main_heap_free(*block);
    *block = nullptr;
  }
  return result;
}

}  // namespace

UnpackResult archive_unpack(const ArchiveSource& source, const ArchiveItem& item, uint8_t** data) {
  *data = nullptr;
  const uint32_t stored_size = item.header.stored_size;
  const uint32_t unpacked_size = item.header.unpacked_size;
  if (pack_entry_is_stored(item.header))
    return archive_read_at_end(source, item, stored_size, data);
  // In place where the stream allows; a stream that would overtake its own unread bytes is
  // read once more into a block with room for both apart.
  const size_t apart =
      stored_size > SIZE_MAX - unpacked_size ? SIZE_MAX : size_t(unpacked_size) + stored_size;
  for (size_t capacity = jc_in_place_capacity(unpacked_size, stored_size);; capacity = apart) {
    uint8_t* block = nullptr;
    const UnpackResult read = read_block_at_end(source, item, capacity, &block);
    if (read != UnpackResult::ok) return read;
    const JcStatus status = jc_decode_in_place(block, capacity, stored_size).status;
    if (status == JcStatus::ok) {
      *data = block;
      return UnpackResult::ok;
    }
    main_heap_free(block);
    if (status != JcStatus::in_place_overlap || capacity >= apart) return UnpackResult::corrupt;
  }
}

uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size) {
  return crc32_update_sliced(crc, bytes, size);
}

bool entry_folders_make(char* path, bool whole) {
  char* last = std::strrchr(path, kEntryNameSeparator);
  if (last) *last = 0;
  const char* folder = last ? path : "";
  bool entered =
      entered_folder.depth != kLostDepth && std::strcmp(folder, entered_folder.name) == 0;
  if (!entered && entry_folders_leave()) {
    entered = !last || enter_parts(path);
    std::strcpy(entered_folder.name, entered ? folder : kPartlyEntered);
  }
  if (last) std::memmove(path, last + 1, std::strlen(last + 1) + 1);
  return entered && (!whole || platform_make_directory(path));
}

bool entry_folders_leave() {
  while (entered_folder.depth != 0 && entered_folder.depth != kLostDepth) {
    if (platform_set_current_directory(".."))
      --entered_folder.depth;
    else
      entered_folder.depth = kLostDepth;
  }
  entered_folder.name[0] = 0;
  return entered_folder.depth == 0;
}
