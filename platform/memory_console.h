// A console held in memory: a screen buffer and an input queue with the platform's
// semantics (consecutive cells continue at column 0 of the next buffer row, the scroll
// rectangle is clipped to the buffer and the uncovered cells get the fill cell). Tests
// install one in place of the process's console; the terminal back end paints one onto
// the terminal, so both show the same screen.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/console.h"

struct MemoryConsole {
  ConsoleScreenBufferInfo info;        ///< geometry, cursor, attributes at creation
  std::vector<ConsoleCharInfo> cells;  ///< row after row, info.size.x per row
  ConsoleCursorInfo cursor_info;
  std::deque<ConsoleInputRecord> input;
  std::string title;
  uint32_t alloc_calls;  ///< platform_console_alloc calls while installed
  uint32_t free_calls;   ///< platform_console_free calls while installed
  bool input_closed;     ///< no key comes after the queue: once it is empty, input has ended
};

/// Default colours of a new console: light grey on black.
inline constexpr uint16_t kDefaultAttribute = 0x07;

/// Makes `console` a buffer of `columns` x `rows` blank cells in `attribute`, with a window
/// of `window_columns` x `window_rows` at the buffer's top-left corner, the largest window
/// equal to the buffer, the cursor at (0, 0) and an empty input queue.
void memory_console_init(MemoryConsole* console, int16_t columns, int16_t rows,
                         int16_t window_columns, int16_t window_rows,
                         uint16_t attribute = kDefaultAttribute);

/// Routes the process's console services to `console` (null: back to the real console).
/// Implemented by each back end.
void platform_console_install(MemoryConsole* console);

/// The cell at (x, y); the caller keeps inside the buffer.
ConsoleCharInfo memory_console_cell(const MemoryConsole* console, int x, int y);

/// The characters of row `y`, trailing blanks removed.
std::string memory_console_row_text(const MemoryConsole* console, int y);

/// Appends a key-down record for `ascii` with `scan_code` to the input queue.
void memory_console_push_key(MemoryConsole* console, char ascii, uint16_t scan_code,
                             bool key_down = true);

/// Appends a record of another kind (mouse, focus, window size, menu).
void memory_console_push_event(MemoryConsole* console, uint16_t event_type);

// The operations behind the console services, on a memory console.
bool memory_console_fill_attribute(MemoryConsole* console, uint16_t attribute, uint32_t length,
                                   ConsoleCoord at, uint32_t* written);
bool memory_console_fill_character(MemoryConsole* console, char character, uint32_t length,
                                   ConsoleCoord at, uint32_t* written);
bool memory_console_write_characters(MemoryConsole* console, const char* characters,
                                     uint32_t length, ConsoleCoord at, uint32_t* written);
bool memory_console_scroll(MemoryConsole* console, const ConsoleSmallRect* rect,
                           const ConsoleSmallRect* clip, ConsoleCoord destination,
                           const ConsoleCharInfo* fill);
bool memory_console_set_cursor_position(MemoryConsole* console, ConsoleCoord position);
bool memory_console_read_input(MemoryConsole* console, ConsoleInputRecord* records, uint32_t length,
                               uint32_t* read);
