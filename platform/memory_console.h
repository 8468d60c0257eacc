// A console held in memory: a screen buffer and an input queue with the platform's
// semantics (consecutive cells continue at column 0 of the next buffer row, the scroll
// rectangle is clipped to the buffer and the uncovered cells get the fill cell). Tests
// install one in place of the process's console; the terminal back end paints one onto
// the terminal, so both show the same screen.
//
// The cells, the queued records and the title live in plain heap blocks (malloc), owned
// by the MemoryConsole and freed by memory_console_release or its destructor; a console
// is never copied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console.h"

/// The screen's cells, row after row: a heap block of `count` cells.
struct MemoryConsoleCells {
  ConsoleCharInfo* data = nullptr;
  size_t count = 0;

  /// Number of cells (columns x rows of the buffer, 0 when none could be allocated).
  size_t size() const { return count; }
  /// The cell at index `i`; the caller keeps `i` below size().
  ConsoleCharInfo& operator[](size_t i) { return data[i]; }
  /// The cell at index `i`; the caller keeps `i` below size().
  const ConsoleCharInfo& operator[](size_t i) const { return data[i]; }
};

/// The input queue: a ring of `capacity` records in a heap block, `count` of them waiting
/// from index `first` on. It grows as records are pushed.
struct MemoryConsoleInput {
  ConsoleInputRecord* records = nullptr;
  uint32_t capacity = 0;
  uint32_t first = 0;
  uint32_t count = 0;

  /// Number of records waiting.
  size_t size() const { return count; }
  /// Whether no record is waiting.
  bool empty() const { return count == 0; }
};

/// The console window's title: a heap copy of the last title set, or none.
struct MemoryConsoleTitle {
  char* text = nullptr;

  MemoryConsoleTitle() = default;
  MemoryConsoleTitle(const MemoryConsoleTitle&) = delete;
  MemoryConsoleTitle& operator=(const MemoryConsoleTitle&) = delete;
  ~MemoryConsoleTitle();

  /// Replaces the title with a copy of `title`; without memory for the copy the title is
  /// empty.
  MemoryConsoleTitle& operator=(const char* title);
  /// The title, "" when none is set.
  const char* c_str() const { return text ? text : ""; }
};

struct MemoryConsole {
  ConsoleScreenBufferInfo info;  ///< geometry, cursor, attributes at creation
  MemoryConsoleCells cells;      ///< row after row, info.size.x per row
  ConsoleCursorInfo cursor_info;
  MemoryConsoleInput input;
  MemoryConsoleTitle title;
  uint32_t alloc_calls;  ///< platform_console_alloc calls while installed
  uint32_t free_calls;   ///< platform_console_free calls while installed
  bool input_closed;     ///< no key comes after the queue: once it is empty, input has ended

  MemoryConsole() = default;
  MemoryConsole(const MemoryConsole&) = delete;
  MemoryConsole& operator=(const MemoryConsole&) = delete;
  ~MemoryConsole();
};

/// Default colours of a new console: light grey on black.
inline constexpr uint16_t kDefaultAttribute = 0x07;

/// Makes `console` a buffer of `columns` x `rows` blank cells in `attribute`, with a window
/// of `window_columns` x `window_rows` at the buffer's top-left corner, the largest window
/// equal to the buffer, the cursor at (0, 0) and an empty input queue; blocks it held
/// before are freed. False when the cells cannot be allocated: the buffer is then 0 x 0,
/// so that every position lies outside it.
bool memory_console_init(MemoryConsole* console, int16_t columns, int16_t rows,
                         int16_t window_columns, int16_t window_rows,
                         uint16_t attribute = kDefaultAttribute);

/// Frees the cells, the queue and the title of `console`; the buffer is then 0 x 0.
void memory_console_release(MemoryConsole* console);

/// Routes the process's console services to `console` (null: back to the real console).
/// Implemented once for both back ends (platform/console_common.cpp).
void platform_console_install(MemoryConsole* console);

/// The cell at (x, y); the caller keeps inside the buffer.
ConsoleCharInfo memory_console_cell(const MemoryConsole* console, int x, int y);

/// Copies the characters of row `y` (inside the buffer), trailing blanks removed, into
/// `out` as a string of at most `capacity` - 1 characters and its terminating 0 (nothing
/// when `capacity` is 0). Returns the number of characters copied.
uint32_t memory_console_row_text(const MemoryConsole* console, int y, char* out, uint32_t capacity);

/// Appends a key-down record for `ascii` with `scan_code` to the input queue. False when
/// the queue cannot grow.
bool memory_console_push_key(MemoryConsole* console, char ascii, uint16_t scan_code,
                             bool key_down = true);

/// Appends a record of another kind (mouse, focus, window size, menu). False when the
/// queue cannot grow.
bool memory_console_push_event(MemoryConsole* console, uint16_t event_type);

// The operations behind the console services, on a memory console.
bool memory_console_fill_attribute(MemoryConsole* console, uint16_t attribute, uint32_t length,
                                   ConsoleCoord at, uint32_t* written);
bool memory_console_fill_character(MemoryConsole* console, char character, uint32_t length,
                                   ConsoleCoord at, uint32_t* written);
bool memory_console_write_characters(MemoryConsole* console, const char* characters,
                                     uint32_t length, ConsoleCoord at, uint32_t* written);
/// False also when there is no memory for the moved contents (nothing changes then).
bool memory_console_scroll(MemoryConsole* console, const ConsoleSmallRect* rect,
                           const ConsoleSmallRect* clip, ConsoleCoord destination,
                           const ConsoleCharInfo* fill);
bool memory_console_set_cursor_position(MemoryConsole* console, ConsoleCoord position);
bool memory_console_read_input(MemoryConsole* console, ConsoleInputRecord* records, uint32_t length,
                               uint32_t* read);
