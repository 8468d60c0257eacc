#include "platform/memory_console.h"

#include <algorithm>

namespace {

/// Index of the cell at `at`, or -1 when it lies outside the buffer.
int64_t cell_index(const MemoryConsole* console, ConsoleCoord at) {
  const ConsoleCoord size = console->info.size;
  if (at.x < 0 || at.y < 0 || at.x >= size.x || at.y >= size.y) return -1;
  return static_cast<int64_t>(at.y) * size.x + at.x;
}

/// Number of cells from `start` that a run of `length` may cover before the buffer ends.
uint32_t clipped_length(const MemoryConsole* console, int64_t start, uint32_t length) {
  int64_t left = static_cast<int64_t>(console->cells.size()) - start;
  return static_cast<uint32_t>(std::min<int64_t>(left, length));
}

/// Intersects `r` with `bounds` in place; false when nothing is left.
bool intersect(ConsoleSmallRect* r, const ConsoleSmallRect& bounds) {
  r->left = std::max(r->left, bounds.left);
  r->top = std::max(r->top, bounds.top);
  r->right = std::min(r->right, bounds.right);
  r->bottom = std::min(r->bottom, bounds.bottom);
  return r->left <= r->right && r->top <= r->bottom;
}

}  // namespace

void memory_console_init(MemoryConsole* console, int16_t columns, int16_t rows,
                         int16_t window_columns, int16_t window_rows, uint16_t attribute) {
  console->info = ConsoleScreenBufferInfo{};
  console->info.size = {columns, rows};
  console->info.attributes = attribute;
  console->info.window = {0, 0, static_cast<int16_t>(window_columns - 1),
                          static_cast<int16_t>(window_rows - 1)};
  console->info.maximum_window_size = {columns, rows};
  console->cells.assign(static_cast<size_t>(columns) * static_cast<size_t>(rows),
                        ConsoleCharInfo{' ', attribute});
  console->cursor_info = {25, 1};
  console->input.clear();
  console->title.clear();
  console->alloc_calls = 0;
  console->free_calls = 0;
  console->input_closed = false;
}

ConsoleCharInfo memory_console_cell(const MemoryConsole* console, int x, int y) {
  return console->cells[static_cast<size_t>(y) * console->info.size.x + x];
}

std::string memory_console_row_text(const MemoryConsole* console, int y) {
  std::string row;
  for (int x = 0; x < console->info.size.x; ++x)
    row.push_back(static_cast<char>(memory_console_cell(console, x, y).character));
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}

void memory_console_push_key(MemoryConsole* console, char ascii, uint16_t scan_code,
                             bool key_down) {
  ConsoleInputRecord record{};
  record.event_type = kKeyEvent;
  record.key_down = key_down ? 1 : 0;
  record.repeat_count = 1;
  record.virtual_scan_code = scan_code;
  record.ascii_char = ascii;
  console->input.push_back(record);
}

void memory_console_push_event(MemoryConsole* console, uint16_t event_type) {
  ConsoleInputRecord record{};
  record.event_type = event_type;
  console->input.push_back(record);
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
  std::vector<ConsoleCharInfo> saved(static_cast<size_t>(width) * height);
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
  return true;
}

bool memory_console_set_cursor_position(MemoryConsole* console, ConsoleCoord position) {
  if (cell_index(console, position) < 0) return false;
  console->info.cursor_position = position;
  return true;
}

bool memory_console_read_input(MemoryConsole* console, ConsoleInputRecord* records, uint32_t length,
                               uint32_t* read) {
  uint32_t n = 0;
  while (n < length && !console->input.empty()) {
    records[n++] = console->input.front();
    console->input.pop_front();
  }
  *read = n;
  return true;
}
