// The stub's ways. The stored bytes are read into the end of the block the entry unpacks
// into, and the fast decoder unpacks them in place, from the block's start, since it reads
// its stream ahead of the bytes it writes: the block is little larger than the unpacked
// bytes.
//
// Reads: the headers and small entries of an archive lie close together, so a read of up
// to half a window is served from a window of 64 KiB of the entries part, read at once;
// larger ones go to the file directly.
//
// Folders: the output folder, current when the first entry's folders are made, is held open
// until the run leaves it, and each entry's folder is found anew from it, never from a
// folder the run stood in before and never through a link (platform_folder_enter), made
// where it is missing and made current; the entry is then written by its last part. A
// folder renamed or replaced by a link while the run waits at a question is not followed
// out of the output folder. The folder the entry before stood in must still be there for
// the entries that share it: when it has gone, it is not made again, and they fail.
#include <cstring>

#include "app/archive_source.h"
#include "app/entry_decoder.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "platform/file.h"
#include "runtime/workspace.h"

namespace {

/// Bytes of the entries part read at once, and the largest read served from them.
constexpr uint32_t kReadWindowSize = 64 * 1024;
constexpr size_t kWindowedReadLimit = kReadWindowSize / 2;

/// The window: `size` bytes of the entries part from `start`, in a main-heap block.
struct ReadWindow {
  uint8_t* bytes;
  uint64_t start;
  uint32_t size;
};

ReadWindow read_window;

/// Reads the window at `offset` of the entries part; false when it cannot.
bool fill_window(const ArchiveSource& source, uint64_t offset) {
  read_window.size = 0;
  if (!read_window.bytes) read_window.bytes = archive_new_block(kReadWindowSize);
  if (!read_window.bytes) return false;
  const uint64_t left = source.entries_size - offset;
  const uint32_t size = left < kReadWindowSize ? uint32_t(left) : kReadWindowSize;
  if (!archive_file_read_at(source.file, source.entries_offset + offset, read_window.bytes, size))
    return false;
  read_window.start = offset;
  read_window.size = size;
  return true;
}

/// The held output folder (null before the first entry and after the run left it), and the
/// folder, beneath it, of the last entry whose folders were made.
struct EntryFolders {
  PlatformFolder output;
  char previous[kEntryNameMaxSize + 1];
};

EntryFolders entry_folders;

/// The length of the longest run of whole parts that `a` (`a_size` bytes) and the
/// zero-terminated `b` start with alike.
size_t common_parts(const char* a, size_t a_size, const char* b) {
  size_t common = 0;
  for (size_t i = 0;; ++i) {
    const bool a_end = i == a_size || a[i] == kEntryNameSeparator;
    const bool b_end = b[i] == 0 || b[i] == kEntryNameSeparator;
    if (a_end && b_end) {
      common = i;
      if (i == a_size || b[i] == 0) return common;
    } else if (a_end || b_end || a[i] != b[i]) {
      return common;
    }
  }
}

/// Finds, makes where missing and enters the folder of the entry `path` whose last part
/// starts at `last` (null: the output folder itself). Only the parts it shares with the
/// previous entry's folder must exist already.
bool enter_entry_folder(char* path, char* last) {
  if (!last) {
    entry_folders.previous[0] = 0;
    return platform_folder_enter(entry_folders.output, "", SIZE_MAX);
  }
  const size_t folder = static_cast<size_t>(last - path);
  const size_t existing = common_parts(path, folder, entry_folders.previous);
  *last = 0;
  const bool entered = platform_folder_enter(entry_folders.output, path, existing);
  if (entered) std::memcpy(entry_folders.previous, path, folder + 1);
  *last = kEntryNameSeparator;
  return entered;
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
  if (!entry_folders.output && !(entry_folders.output = platform_folder_hold("."))) return false;
  char* last = std::strrchr(path, kEntryNameSeparator);
  if (!enter_entry_folder(path, last)) {
    // Never left standing in a folder that may have moved away.
    (void)platform_folder_enter(entry_folders.output, "", SIZE_MAX);
    return false;
  }
  if (last) std::memmove(path, last + 1, std::strlen(last + 1) + 1);
  return !whole || platform_make_directory(path);
}

bool entry_folders_leave() {
  if (!entry_folders.output) return true;
  const bool back = platform_folder_enter(entry_folders.output, "", SIZE_MAX);
  platform_folder_release(entry_folders.output);
  entry_folders.output = nullptr;
  entry_folders.previous[0] = 0;
  return back;
}

bool entry_source_read(const ArchiveSource& source, uint64_t offset, uint8_t* out, size_t count) {
  const bool inside =
      offset >= read_window.start && offset + count <= read_window.start + read_window.size;
  if (!inside && (count > kWindowedReadLimit || !fill_window(source, offset)))
    return archive_file_read_at(source.file, source.entries_offset + offset, out, count);
  if (count > 0) std::memcpy(out, read_window.bytes + (offset - read_window.start), count);
  return true;
}

void entry_source_closed() {
  main_heap_free(read_window.bytes);
  read_window = ReadWindow{};
}

namespace {

/// The blocks being delivered: their source and where the next one starts.
struct FastBlocks {
  const ArchiveSource* source;
  uint64_t offset;
};

FastBlocks fast_blocks;

}  // namespace

bool entry_blocks_start(const ArchiveSource& source) {
  fast_blocks = FastBlocks{&source, 0};
  return true;
}

UnpackResult entry_blocks_next(PackEntryHeader* header, uint8_t** bytes) {
  return archive_block_unpack(*fast_blocks.source, &fast_blocks.offset, header, bytes);
}

void entry_blocks_stop() {
  fast_blocks = FastBlocks{};
}
