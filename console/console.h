// The console library: a text screen on which text is painted straight into the screen
// buffer at a cursor that this library tracks itself. The geometry is read once at open;
// the library decides when the buffer scrolls and where the cursor lands.
//
// When the standard output is not a console screen buffer, printed texts go out as plain
// bytes and each line break as the platform's line break.
#pragma once

#include <cstdint>

#include "platform/console.h"

/// Longest text one print paints; the rest is dropped.
inline constexpr uint32_t kMaxPrintLength = 250;

/// The program is built as a console program: it uses the console it was started with.
inline constexpr uint32_t kConsoleProgram = 1;

/// The console library's record, all zero before open.
struct ConsoleState {
  uint32_t events_count;      ///< out-parameter of the input calls and of the clear
  uint32_t written_count;     ///< out-parameter of the output calls; never read
  ConsoleCharInfo fill_cell;  ///< fills the row freed by a scroll
  uint8_t is_open;
  uint8_t existing_console;  ///< 1: use the console the process has; never allocate or free
  uint8_t stream_output;     ///< 1: the output is not a screen buffer, texts go out as bytes
  ConsoleHandle input_handle;
  ConsoleHandle output_handle;
  ConsoleScreenBufferInfo buffer_info;  ///< read once at open; cursor_position is the cursor
  ConsoleSmallRect scroll_rect;
  ConsoleCursorInfo cursor_info;
  uint32_t attribute;             ///< colours of every cell painted from now on (low 16 bits)
  ConsoleInputRecord key_record;  ///< the input record read last
};

extern ConsoleState console_state;

/// Opens the console: takes the standard handles, the geometry, the cursor and the
/// colours. Nonzero when it opened it; 0 when already open or no console could be had.
int console_open();

/// Closes the console (frees it only when it was allocated by open). Contents stay.
void console_close();

/// Sets the console window's title; the platform's success value.
int console_set_title(const char* title);

/// Paints up to kMaxPrintLength characters of `text` (null: nothing) at the cursor,
/// scrolling first when the text and the cell after it would not fit in the window, and
/// moves the cursor behind the text. Control characters are painted, not interpreted.
void console_print(const char* text);

/// console_print, then console_newline.
void console_print_line(const char* text);

/// Moves the cursor to column 0 of the next row, scrolling on the window's bottom row.
void console_newline();

/// Moves every row of the buffer up by one; the last row becomes blank in the current
/// colours. The cursor is not changed.
void console_scroll_up();

/// Paints `length` cells from the cursor with `characters` in the current colours,
/// continuing on the next buffer rows; the cursor is not moved.
void console_write_at_cursor(const char* characters, uint32_t length);
