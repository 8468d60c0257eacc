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
#include "platform/thread.h"
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

// ---- The blocks of a content stream, decoded ahead --------------------------------------
//
// A second thread reads and decodes the next block while the caller writes the files of the
// one before. The two hand each other two buffers through two semaphores (platform/thread.h):
// the decoder waits for a free buffer, fills it and posts it as full; the caller waits for a
// full one, and gives back the one before when it asks for the next. Each buffer holds the
// largest block's unpacked and stored bytes apart, its stored bytes read into its end and
// unpacked from its start, so that any block decodes in it; the buffers are had before the
// thread starts, and the thread allocates nothing. So the content takes at most twice the
// largest block's unpacked and stored size, whatever the sizes of the files. Only the thread
// reads the archive's file while it runs, and only through platform_file_read_at, which
// leaves alone what the platform keeps of its open files: the caller opens and closes the
// files it writes meanwhile. When no thread or buffer can be had, the blocks
// are decoded one at a time as the caller asks.

namespace {

/// Buffers handed between the decoder and its caller.
constexpr uint32_t kAheadBuffers = 2;
/// The most bytes the decoder thread asks of one read.
constexpr uint32_t kMaxAheadRead = 1u << 30;

/// One buffer and the block it holds.
struct AheadSlot {
  uint8_t* buffer;
  PackEntryHeader header;
  UnpackResult result;
};

/// The delivery: its source, where the next block starts, the decoder thread and its
/// hand-off. `thread` null: blocks are decoded on the caller's thread.
struct FastBlocks {
  const ArchiveSource* source;
  uint64_t offset;
  size_t capacity;  ///< bytes of each slot's buffer
  AheadSlot slots[kAheadBuffers];
  PlatformThread thread;
  PlatformSemaphore free_slots;
  PlatformSemaphore full_slots;
  uint32_t produced;  ///< blocks the thread has filled (its own count)
  uint32_t taken;     ///< blocks the caller has taken
  bool holding;       ///< the caller holds the slot of the block it took last
  bool ended;         ///< the end has been delivered
  bool stopping;
  uint8_t* single;  ///< one thread: the block last delivered (main heap)
};

FastBlocks fast_blocks;

/// Reads `count` bytes at `position` of the entries part on the decoder thread, with the one
/// read the platform allows beside the caller's own file work; false unless all were read.
bool read_ahead(uint64_t position, uint8_t* out, size_t count) {
  const ArchiveSource& source = *fast_blocks.source;
  position += source.entries_offset;
  while (count > 0) {
    const uint32_t step = count > kMaxAheadRead ? kMaxAheadRead : static_cast<uint32_t>(count);
    uint32_t done = 0;
    if (!platform_file_read_at(source.file, position, out, step, &done) || done != step)
      return false;
    position += step;
    out += step;
    count -= step;
  }
  return true;
}

/// Reads the block at the delivery's offset and unpacks it into `slot`; at the end of the
/// entries part, the end (both sizes 0). The block is read into the buffer's end and
/// unpacked from its start: with room for both apart, any stream decodes in place.
void decode_into(AheadSlot* slot) {
  const ArchiveSource& source = *fast_blocks.source;
  slot->header = PackEntryHeader{};
  slot->result = UnpackResult::ok;
  if (fast_blocks.offset >= source.entries_size) return;
  uint8_t bytes[kPackEntryHeaderSize];
  const uint64_t at = fast_blocks.offset;
  PackEntryHeader header{};
  if (read_ahead(at, bytes, sizeof bytes)) header = pack_read_entry_header(bytes);
  const uint32_t stored = header.stored_size;
  if (!named_block_sizes_valid(header.unpacked_size, stored) ||
      stored > source.entries_size - at - kPackEntryHeaderSize ||
      size_t(header.unpacked_size) + stored > fast_blocks.capacity) {
    fast_blocks.offset = source.entries_size;
    slot->result = UnpackResult::unreadable;
    return;
  }
  slot->header = header;
  fast_blocks.offset = at + kPackEntryHeaderSize + stored;
  uint8_t* end = slot->buffer + fast_blocks.capacity - stored;
  if (!read_ahead(at + kPackEntryHeaderSize, end, stored)) {
    slot->result = UnpackResult::unreadable;
  } else if (pack_entry_is_stored(header)) {
    std::memmove(slot->buffer, end, stored);
  } else {
    // The block's own header may state another size than its entry: only a block that
    // makes exactly the entry's bytes is sound.
    const JcResult decoded = jc_decode_in_place(slot->buffer, fast_blocks.capacity, stored);
    if (decoded.status != JcStatus::ok || decoded.written != header.unpacked_size)
      slot->result = UnpackResult::corrupt;
  }
}

/// The decoder thread: fills free slots in turn until the end is delivered or it is told
/// to stop.
void decode_ahead(void* /*unused*/) {
  for (;;) {
    platform_semaphore_wait(fast_blocks.free_slots);
    if (fast_blocks.stopping) return;
    AheadSlot* slot = &fast_blocks.slots[fast_blocks.produced++ % kAheadBuffers];
    decode_into(slot);
    const bool end = slot->result == UnpackResult::ok && slot->header.unpacked_size == 0;
    platform_semaphore_post(fast_blocks.full_slots);
    if (end) return;
  }
}

/// The largest unpacked and stored size of a block of the source, apart; 0 when a header
/// cannot be read.
size_t largest_block(const ArchiveSource& source) {
  size_t largest = 1;
  for (uint64_t offset = 0; offset < source.entries_size;) {
    PackEntryHeader header;
    if (!archive_block_header(source, offset, &header)) return 0;
    const size_t both = size_t(header.unpacked_size) + header.stored_size;
    if (both > largest) largest = both;
    offset += kPackEntryHeaderSize + header.stored_size;
  }
  return largest;
}

/// Has the buffers and semaphores and starts the thread; false (with everything let go)
/// when any of them cannot be had.
bool start_ahead(const ArchiveSource& source) {
  fast_blocks.capacity = largest_block(source);
  bool ready = fast_blocks.capacity != 0;
  for (AheadSlot& slot : fast_blocks.slots)
    ready = ready && (slot.buffer = archive_new_block(fast_blocks.capacity)) != nullptr;
  ready = ready && (fast_blocks.free_slots = platform_semaphore_make(kAheadBuffers)) &&
          (fast_blocks.full_slots = platform_semaphore_make(0));
  // The read window is the caller's: the thread reads the file directly.
  entry_source_closed();
  return ready && (fast_blocks.thread = platform_thread_start(decode_ahead, nullptr)) != nullptr;
}

/// Lets go of the buffers and semaphores.
void release_ahead() {
  for (AheadSlot& slot : fast_blocks.slots) main_heap_free(slot.buffer);
  platform_semaphore_free(fast_blocks.free_slots);
  platform_semaphore_free(fast_blocks.full_slots);
}

}  // namespace

bool entry_blocks_start(const ArchiveSource& source) {
  fast_blocks = FastBlocks{};
  fast_blocks.source = &source;
  if (start_ahead(source)) return true;
  release_ahead();
  fast_blocks = FastBlocks{};
  fast_blocks.source = &source;
  return true;
}

UnpackResult entry_blocks_next(PackEntryHeader* header, uint8_t** bytes) {
  *bytes = nullptr;
  if (!fast_blocks.thread) {
    main_heap_free(fast_blocks.single);
    fast_blocks.single = nullptr;
    const UnpackResult result =
        archive_block_unpack(*fast_blocks.source, &fast_blocks.offset, header, &fast_blocks.single);
    *bytes = fast_blocks.single;
    return result;
  }
  *header = PackEntryHeader{};
  if (fast_blocks.ended) return UnpackResult::ok;
  if (fast_blocks.holding) platform_semaphore_post(fast_blocks.free_slots);
  platform_semaphore_wait(fast_blocks.full_slots);
  const AheadSlot& slot = fast_blocks.slots[fast_blocks.taken++ % kAheadBuffers];
  fast_blocks.holding = true;
  *header = slot.header;
  fast_blocks.ended = slot.result == UnpackResult::ok && slot.header.unpacked_size == 0;
  if (slot.result == UnpackResult::ok) *bytes = slot.buffer;
  return slot.result;
}

void entry_blocks_stop() {
  if (fast_blocks.thread) {
    fast_blocks.stopping = true;
    platform_semaphore_post(fast_blocks.free_slots);
    platform_thread_join(fast_blocks.thread);
    release_ahead();
  }
  main_heap_free(fast_blocks.single);
  fast_blocks = FastBlocks{};
}
