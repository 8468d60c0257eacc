#include "platform/memory_console.h"

#include <cstdlib>
#include <cstring>

namespace {

/// Records the input queue holds when its first record is pushed; it doubles when full.
constexpr uint32_t kInitialInputCapacity = 16;

/// Index of the cell at `at`, or -1 when it lies outside the buffer.
int64_t cell_index(const MemoryConsole* console, ConsoleCoord at) {
  const ConsoleCoord size = console->info.size;
  if (at.x < 0 || at.y < 0 || at.x >= size.x || at.y >= size.y) return -1;
  return static_cast<int64_t>(at.y) * size.x + at.x;
}

/// Number of cells from `start` (a cell of the buffer) that a run of `length` may cover
/// before the buffer ends.
uint32_t clipped_length(const MemoryConsole* console, int64_t start, uint32_t length) {
  const int64_t left = static_cast<int64_t>(console->cells.size()) - start;
  if (left <= 0) return 0;
  return left < length ? static_cast<uint32_t>(left) : length;
}

int16_t larger(int16_t a, int16_t b) {
  return a > b ? a : b;
}

int16_t smaller(int16_t a, int16_t b) {
  return a < b ? a : b;
}

/// Intersects `r` with `bounds` in place; false when nothing is left.
bool intersect(ConsoleSmallRect* r, const ConsoleSmallRect& bounds) {
  r->left = larger(r->left, bounds.left);
  r->top = larger(r->top, bounds.top);
  r->right = smaller(r->right, bounds.right);
  r->bottom = smaller(r->bottom, bounds.bottom);
  return r->left <= r->right && r->top <= r->bottom;
}

/// Makes room for one more record at the back of the queue. False when it cannot grow.
bool reserve_one(MemoryConsoleInput* queue) {
  if (queue->count < queue->capacity) return true;
  const uint32_t capacity = queue->capacity ? queue->capacity * 2 : kInitialInputCapacity;
  if (capacity <= queue->capacity) return false;
  auto* records =
      static_cast<ConsoleInputRecord*>(std::malloc(sizeof(ConsoleInputRecord) * capacity));
  if (!records) return false;
  for (uint32_t i = 0; i < queue->count; ++i)
    records[i] = queue->records[(queue->first + i) % queue->capacity];
  std::free(queue->records);
  queue->records = records;
  queue->capacity = capacity;
  queue->first = 0;
  return true;
}

bool push_record(MemoryConsole* console, const ConsoleInputRecord& record) {
  MemoryConsoleInput* queue = &console->input;
  if (!reserve_one(queue)) return false;
  queue->records[(queue->first + queue->count) % queue->capacity] = record;
  ++queue->count;
  return true;
}

}  // namespace

MemoryConsoleTitle::~MemoryConsoleTitle() {
  std::free(text);
}

MemoryConsoleTitle& MemoryConsoleTitle::operator=(const char* title) {
  std::free(text);
  text = nullptr;
  const size_t length = title ? std::strlen(title) : 0;
  if (length == 0) return *this;
  text = static_cast<char*>(std::malloc(length + 1));
  if (text) std::memcpy(text, title, length + 1);
  return *this;
}

MemoryConsole::~MemoryConsole() {
  memory_console_release(this);
}

void memory_console_release(MemoryConsole* console) {
  std::free(console->cells.data);
  console->cells = MemoryConsoleCells{};
  console->info.size = {0, 0};
  std::free(console->input.records);
  console->input = MemoryConsoleInput{};
  console->title = nullptr;
}

bool memory_console_init(MemoryConsole* console, int16_t columns, int16_t rows,
                         int16_t window_columns, int16_t window_rows, uint16_t attribute) {
  memory_console_release(console);
  console->info = ConsoleScreenBufferInfo{};
  console->info.attributes = attribute;
  console->info.window = {0, 0, static_cast<int16_t>(window_columns - 1),
                          static_cast<int16_t>(window_rows - 1)};
  console->info.maximum_window_size = {columns, rows};
  console->cursor_info = {25, 1};
  console->alloc_calls = 0;
  console->free_calls = 0;
  console->input_closed = false;
  const size_t count = columns > 0 && rows > 0 ? static_cast<size_t>(columns) * rows : 0;
  if (count > SIZE_MAX / sizeof(ConsoleCharInfo)) return false;
  // At least one cell's block, so that an empty buffer is not mistaken for a failure.
  auto* cells =
      static_cast<ConsoleCharInfo*>(std::malloc(sizeof(ConsoleCharInfo) * (count > 0 ? count : 1)));
  if (!cells) return false;
  for (size_t i = 0; i < count; ++i) cells[i] = ConsoleCharInfo{' ', attribute};
  console->cells.data = cells;
  console->cells.count = count;
  console->info.size = {columns, rows};
  return true;
}

ConsoleCharInfo memory_console_cell(const MemoryConsole* console, int x, int y) {
  return console->cells[static_cast<size_t>(y) * console->info.size.x + x];
}

uint32_t memory_console_row_text(const MemoryConsole* console, int y, char* out,
                                 uint32_t capacity) {
  if (capacity == 0) return 0;
  uint32_t length = 0;  // the row up to its last character that is not a blank
  for (int x = 0; x < console->info.size.x; ++x)
    if (memory_console_cell(console, x, y).character != ' ') length = static_cast<uint32_t>(x) + 1;
  if (length > capacity - 1) length = capacity - 1;
  for (uint32_t x = 0; x < length; ++x)
    out[x] = static_cast<char>(memory_console_cell(console, static_cast<int>(x), y).character);
  out[length] = 0;
  return length;
}

bool memory_console_push_key(MemoryConsole* console, char ascii, uint16_t scan_code,
                             bool key_down) {
  ConsoleInputRecord record{};
  record.event_type = kKeyEvent;
  record.key_down = key_down ? 1 : 0;
  record.repeat_count = 1;
  record.virtual_scan_code = scan_code;
  record.ascii_char = ascii;
  return push_record(console, record);
}

bool memory_console_push_event(MemoryConsole* console, uint16_t event_type) {
  ConsoleInputRecord record{};
  record.event_type = event_type;
  return push_record(console, record);
}

bool memory_console_fill_attribute(MemoryConsole* console, uint16_t attribute, uint32_t length,
                                   ConsoleCoord at, uint32_t* written) {
  *written = 0;
  int64_t start = cell_index(console, at);
  if (start < 0) return false;
  uint32_t n = clipped_length(console, start, length);
  for (uint32_t i = 0; i < n; ++i) console->cells[start + i].attributes = attribute;
  *written = n;
  return true;
}

bool memory_console_fill_character(MemoryConsole* console, char character, uint32_t length,
                                   ConsoleCoord at, uint32_t* written) {
  *written = 0;
  int64_t start = cell_index(console, at);
  if (start < 0) return false;
  uint32_t n = clipped_length(console, start, length);
  for (uint32_t i = 0; i < n; ++i)
    console->cells[start + i].character = static_cast<unsigned char>(character);
  *written = n;
  return true;
}

bool memory_console_write_characters(MemoryConsole* console, const char* characters,
                                     uint32_t length, ConsoleCoord at, uint32_t* written) {
  *written = 0;
  int64_t start = cell_index(console, at);
  if (start < 0) return false;
  uint32_t n = clipped_length(console, start, length);
  for (uint32_t i = 0; i < n; ++i)
    console->cells[start + i].character = static_cast<unsigned char>(characters[i]);
  *written = n;
  return true;
}

bool memory_console_scroll(MemoryConsole* console, const ConsoleSmallRect* rect,
                           const ConsoleSmallRect* clip, ConsoleCoord destination,
                           const ConsoleCharInfo* fill) {
  const ConsoleCoord size = console->info.size;
  const ConsoleSmallRect buffer{0, 0, static_cast<int16_t>(size.x - 1),
                                static_cast<int16_t>(size.y - 1)};
  ConsoleSmallRect source = *rect;
  if (!intersect(&source, buffer)) return false;
  ConsoleSmallRect bounds = buffer;
  if (clip && !intersect(&bounds, *clip)) return true;

  // Take the source's contents, fill the source with the fill cell, then put the
  // contents down at the destination: the cells the move uncovers keep the fill.
  const int width = source.right - source.left + 1;
  const int height = source.bottom - source.top + 1;
  auto* saved = static_cast<ConsoleCharInfo*>(
      std::malloc(sizeof(ConsoleCharInfo) * static_cast<size_t>(width) * height));
  if (!saved) return false;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      saved[static_cast<size_t>(y) * width + x] =
          memory_console_cell(console, source.left + x, source.top + y);
  for (int y = source.top; y <= source.bottom; ++y)
    for (int x = source.left; x <= source.right; ++x)
      if (x >= bounds.left && x <= bounds.right && y >= bounds.top && y <= bounds.bottom)
        console->cells[static_cast<size_t>(y) * size.x + x] = *fill;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int tx = destination.x + x;
      int ty = destination.y + y;
      if (tx < bounds.left || tx > bounds.right || ty < bounds.top || ty > bounds.bottom) continue;
      console->cells[static_cast<size_t>(ty) * size.x + tx] =
          saved[static_cast<size_t>(y) * width + x];
    }
  }
  std::free(saved);
  return true;
}

bool memory_console_set_cursor_position(MemoryConsole* console, ConsoleCoord position) {
  if (cell_index(console, position) < 0) return false;
  console->info.cursor_position = position;
  return true;
}

bool memory_console_read_input(MemoryConsole* console, ConsoleInputRecord* records, uint32_t length,
                               uint32_t* read) {
  MemoryConsoleInput* queue = &console->input;
  uint32_t n = 0;
  while (n < length && queue->count > 0) {
    records[n++] = queue->records[queue->first];
    queue->first = (queue->first + 1) % queue->capacity;
    --queue->count;
  }
  *read = n;
  return true;
}
