#include "pack/pack_reader.h"

#include <climits>

#include "files/program_directory.h"
#include "jc/jc.h"
#include "runtime/workspace.h"

PackReader pack_reader;

namespace {

/// Bytes read at a time by pack_verify.
constexpr uint32_t kVerifyChunkSize = 64 * 1024;

/// The decoder of the program's entries: the compact one, whose code is a small part of
/// the fast one's, for a program that decodes about a megabyte once (README.md, "Program
/// size").
constexpr JcCheckedDecoder kEntryDecoder = jc_decode_compact_checked;

bool reader_open() {
  return pack_reader.handle != nullptr && pack_reader.is_open == 1;
}

void free_entry_buffer() {
  main_heap_free(pack_reader.entry_buffer);
  pack_reader.entry_buffer = nullptr;
}

/// Bytes between the archive's read position and its end.
uint32_t bytes_left() {
  const uint32_t position = platform_file_seek(pack_reader.handle, 0, FileSeekOrigin::kFromCurrent);
  const uint32_t size = platform_file_size(pack_reader.handle);
  if (position == kFileQueryFailed || size == kFileQueryFailed || position > size) return 0;
  return size - position;
}

/// Moves the read position forward past `count` bytes of an entry that is not delivered.
void skip(uint32_t count) {
  uint32_t left = count;
  while (left > 0) {
    const uint32_t step = left > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : left;
    platform_file_seek(pack_reader.handle, static_cast<int32_t>(step),
                       FileSeekOrigin::kFromCurrent);
    left -= step;
  }
}

/// Reads, checks and unpacks one entry whose header has been read; the reader ends behind
/// its data wherever they could be read. The entry is whole only when a block decodes to
/// exactly unpacked_size bytes with its checksum.
uint8_t* deliver(const PackEntryHeader& header) {
  const uint32_t unpacked_size = header.unpacked_size;
  const uint32_t stored_size = header.stored_size;
  free_entry_buffer();
  const uint32_t left = bytes_left();
  // Sizes that do not fit what is left, or that cannot be reported: wrong framing.
  if (stored_size > left || unpacked_size > static_cast<uint32_t>(INT32_MAX)) {
    pack_reader.stopped = 1;
    return nullptr;
  }
  pack_reader.entry_buffer = static_cast<uint8_t*>(main_heap_alloc(unpacked_size));
  auto* stored =
      static_cast<uint8_t*>(pack_reader.entry_buffer ? main_heap_alloc(stored_size) : nullptr);
  if (!stored) {
    free_entry_buffer();
    skip(stored_size);
    return nullptr;
  }
  uint32_t done = 0;
  const bool read =
      platform_file_read(pack_reader.handle, stored, stored_size, &done) && done == stored_size;
  const PackEntryView entry{0, header, stored};
  const JcStatus status =
      read ? pack_entry_unpack(entry, pack_reader.entry_buffer, unpacked_size, kEntryDecoder)
           : JcStatus::ok;
  // A block without its magic or of another size than its header says is not the block
  // this header framed: whatever follows cannot be trusted to start where it seems to.
  if (!read || status == JcStatus::bad_magic || status == JcStatus::size_mismatch)
    pack_reader.stopped = 1;
  const bool whole = read && status == JcStatus::ok;
  main_heap_free(stored);
  if (!whole) {
    free_entry_buffer();
    return nullptr;
  }
  pack_reader.entry_size = static_cast<int32_t>(unpacked_size);
  return pack_reader.entry_buffer;
}

}  // namespace

int32_t pack_open(const char* name) {
  pack_close();
  platform_set_current_directory(program_directory);
  PlatformFile handle = platform_file_open(name, kFileAccessRead | kFileAccessSequential,
                                           kFileShareRead, FileDisposition::kOpenExisting);
  if (handle == kPlatformInvalidFile) {
    pack_reader.handle = nullptr;
    return 0;
  }
  pack_reader.handle = handle;
  pack_reader.is_open = 1;
  pack_reader.stopped = 0;
  return 1;
}

int32_t pack_verify(const ArchiveDigest& expected) {
  if (!reader_open()) return 0;
  auto* chunk = static_cast<uint8_t*>(main_heap_alloc(kVerifyChunkSize));
  if (!chunk) return 0;
  uint64_t size = 0;
  uint32_t crc = 0;
  bool readable = platform_file_seek(pack_reader.handle, 0, FileSeekOrigin::kFromStart) == 0;
  while (readable) {
    uint32_t done = 0;
    readable = platform_file_read(pack_reader.handle, chunk, kVerifyChunkSize, &done);
    if (!readable || done == 0) break;
    crc = crc32_update(crc, chunk, done);
    size += done;
  }
  main_heap_free(chunk);
  const bool rewound = platform_file_seek(pack_reader.handle, 0, FileSeekOrigin::kFromStart) == 0;
  return readable && rewound && size == expected.size && crc == expected.crc32 ? 1 : 0;
}

uint8_t* pack_next_entry() {
  pack_reader.entry_size = -1;
  if (!reader_open() || pack_reader.stopped) return nullptr;
  uint8_t header[kPackEntryHeaderSize];
  uint32_t done = 0;
  if (!platform_file_read(pack_reader.handle, header, kPackEntryHeaderSize, &done) || done == 0)
    return nullptr;                   // the end of the archive: the last entry's buffer stays valid
  if (done < kPackEntryHeaderSize) {  // a header cut short
    free_entry_buffer();
    pack_reader.stopped = 1;
    return nullptr;
  }
  return deliver(pack_read_entry_header(header));
}

int32_t pack_entry_size() {
  return reader_open() ? pack_reader.entry_size : -1;
}

void pack_close() {
  if (pack_reader.handle) {
    platform_file_close(pack_reader.handle);
    pack_reader.handle = nullptr;
  }
  free_entry_buffer();
}

void pack_release() {
  pack_close();
}
