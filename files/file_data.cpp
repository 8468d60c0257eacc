#include "files/file_data.h"

#include <cstring>

#include "runtime/workspace.h"

namespace {

constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kLineFeed = 10;
constexpr uint32_t kLongSize = 4;

/// Reads one byte of `file` into `byte`, which is 0 when nothing could be read. True when
/// a byte was read.
bool read_one(PlatformFile file, unsigned char* byte) {
  uint32_t done = 0;
  *byte = 0;
  return platform_file_read(file, byte, 1, &done) && done == 1;
}

/// Moves the position of `file` back over the byte just read.
void step_back(PlatformFile file) {
  platform_file_seek(file, -1, FileSeekOrigin::kFromCurrent);
}

/// Reads `count` (at most 4) bytes of the current file as the low-order bytes of a
/// little-endian value; bytes that were not read count as 0.
uint32_t read_little_endian(uint32_t count) {
  unsigned char bytes[kLongSize] = {};
  uint32_t done = current_file_read_block(bytes, count);
  uint32_t value = 0;
  for (uint32_t i = 0; i < done; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return value;
}

bool ends_line(unsigned char byte) {
  return byte == 0 || byte == kCarriageReturn || byte == kLineFeed;
}

}  // namespace

int current_file_write_block(const void* data, uint32_t count) {
  PlatformFile file = file_table.current_handle;
  if (!file || !data || count == 0) return 0;
  uint32_t done = 0;
  return platform_file_write(file, data, count, &done) ? 1 : 0;
}

int current_file_flush() {
  PlatformFile file = file_table.current_handle;
  return file && platform_file_flush(file) ? 1 : 0;
}

uint32_t current_file_read_block(void* buffer, uint32_t count) {
  uint32_t done = 0;
  if (file_table.current_handle)
    platform_file_read(file_table.current_handle, buffer, count, &done);
  return done;
}

int32_t current_file_read_byte() {
  return static_cast<int8_t>(read_little_endian(1));
}

int32_t current_file_read_word() {
  return static_cast<int16_t>(read_little_endian(2));
}

int32_t current_file_read_long() {
  return static_cast<int32_t>(read_little_endian(kLongSize));
}

float current_file_read_float() {
  uint32_t bits = read_little_endian(kLongSize);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

/* Line read: one platform read per byte, each stored at the cursor until a terminator
 * (carriage return, line feed, zero byte, or nothing read) comes; the terminator becomes the
 * text's zero. After a carriage return one more byte is read: a line feed belongs to the
 * same line, anything else is given back to begin the next line. The text is bounded by
 * the workspace: when only the place of the zero is left, a byte that does not end the line
 * is given back too, so nothing is lost and the rest comes with the next read. */
char* current_file_read_line() {
  PlatformFile file = file_table.current_handle;
  char* start = runtime_memory.string_cursor;
  size_t room = string_room(start);
  if (!file || room == 0) return nullptr;
  char* last = start + room - 1;  // the place of the zero when the workspace is full
  char* cursor = start;
  unsigned char byte = 0;
  while (read_one(file, &byte) && !ends_line(byte)) {
    if (cursor == last) {
      step_back(file);
      byte = 0;
      break;
    }
    *cursor++ = static_cast<char>(byte);
  }
  *cursor = 0;
  runtime_memory.string_cursor = cursor;
  if (byte == kCarriageReturn) {
    unsigned char next;
    if (read_one(file, &next) && next != kLineFeed) step_back(file);
  }
  return start;
}

void current_file_seek(int32_t position) {
  if (file_table.current_handle) {
    platform_file_seek(file_table.current_handle, position, FileSeekOrigin::kFromStart);
  }
}

int32_t current_file_position() {
  if (!file_table.current_handle) return -1;
  return static_cast<int32_t>(
      platform_file_seek(file_table.current_handle, 0, FileSeekOrigin::kFromCurrent));
}

int32_t current_file_size() {
  if (!file_table.current_handle) return -1;
  return static_cast<int32_t>(platform_file_size(file_table.current_handle));
}

int file_at_end(FileReference reference) {
  PlatformFile* slot = file_slot_find(reference);
  if (!slot) return 0;
  unsigned char byte;
  if (!read_one(*slot, &byte)) return -1;
  step_back(*slot);
  return 0;
}
