// Console services: the process's console screen buffer and input queue.
//
// The records mirror the platform's console records: a screen buffer of `size` cells
// (columns x rows), of which the window shows `window`; each cell holds an 8-bit
// character and a 16-bit colour attribute (foreground bits 0-3, background bits 4-7).
// Writes and fills cover consecutive cells from a position and continue at column 0 of
// the next buffer row when a row ends; they stop at the buffer's last cell.
//
// When the standard output is not a console (redirected to a file or a pipe),
// platform_console_buffer_info fails for it and text goes through platform_stream_write.
// When the standard input is not a console, each byte read is one key press, and
// platform_console_input_ended tells when its end has been reached.
#pragma once

#include <cstdint>

/// A console input or output handle; null is no handle.
using ConsoleHandle = void*;

inline constexpr int32_t kStdInputHandle = -10;
inline constexpr int32_t kStdOutputHandle = -11;

/// Kinds of input records.
inline constexpr uint16_t kKeyEvent = 0x0001;
inline constexpr uint16_t kMouseEvent = 0x0002;
inline constexpr uint16_t kWindowBufferSizeEvent = 0x0004;
inline constexpr uint16_t kMenuEvent = 0x0008;
inline constexpr uint16_t kFocusEvent = 0x0010;

struct ConsoleCoord {
  int16_t x;
  int16_t y;
};

/// A rectangle with inclusive bounds.
struct ConsoleSmallRect {
  int16_t left;
  int16_t top;
  int16_t right;
  int16_t bottom;
};

struct ConsoleScreenBufferInfo {
  ConsoleCoord size;             ///< buffer columns and rows
  ConsoleCoord cursor_position;  ///< in buffer coordinates
  uint16_t attributes;           ///< colours of text written now
  ConsoleSmallRect window;       ///< visible part of the buffer
  ConsoleCoord maximum_window_size;
};

struct ConsoleCharInfo {
  uint16_t character;
  uint16_t attributes;
};

struct ConsoleCursorInfo {
  uint32_t size;     ///< percent of the cell, 1 to 100
  uint32_t visible;  ///< 0 or 1
};

/// One record of the input queue. Key records fill the key fields; other kinds leave
/// them 0.
struct ConsoleInputRecord {
  uint16_t event_type;
  uint32_t key_down;
  uint16_t repeat_count;
  uint16_t virtual_key_code;
  uint16_t virtual_scan_code;
  char ascii_char;
  uint32_t control_key_state;
};

/// Gives the process a new console. True on success.
bool platform_console_alloc();

/// Detaches the process from its console.
bool platform_console_free();

/// The standard input (kStdInputHandle) or output (kStdOutputHandle) handle.
ConsoleHandle platform_std_handle(int32_t which);

/// Fills `info` with the buffer's geometry, cursor and colours. False (info untouched)
/// when `output` is not a console screen buffer.
bool platform_console_buffer_info(ConsoleHandle output, ConsoleScreenBufferInfo* info);

/// Sets the console window's title.
bool platform_console_set_title(const char* title);

/// Moves the visible cursor; false when the position lies outside the buffer.
bool platform_console_set_cursor_position(ConsoleHandle output, ConsoleCoord position);

/// Sets the cursor's height (percent) and visibility.
bool platform_console_set_cursor_info(ConsoleHandle output, const ConsoleCursorInfo* info);

/// Paints `attribute` over `length` consecutive cells from `at`; stores the count painted.
bool platform_console_fill_attribute(ConsoleHandle output, uint16_t attribute, uint32_t length,
                                     ConsoleCoord at, uint32_t* written);

/// Writes `character` into `length` consecutive cells from `at`; stores the count written.
bool platform_console_fill_character(ConsoleHandle output, char character, uint32_t length,
                                     ConsoleCoord at, uint32_t* written);

/// Writes `length` characters into consecutive cells from `at` without interpreting any
/// of them and without moving the cursor; the cells keep their attributes.
bool platform_console_write_characters(ConsoleHandle output, const char* characters,
                                       uint32_t length, ConsoleCoord at, uint32_t* written);

/// Moves the contents of `rect` (clipped to the buffer and to `clip`, when given) so that
/// its top-left cell lands on `destination`, and fills the uncovered cells with `fill`.
bool platform_console_scroll(ConsoleHandle output, const ConsoleSmallRect* rect,
                             const ConsoleSmallRect* clip, ConsoleCoord destination,
                             const ConsoleCharInfo* fill);

/// Stores the number of records waiting in the input queue. When none is waiting it first
/// sleeps until one arrives or a short while (well under a tenth of a second) has passed,
/// so that a loop that keeps looking rests between looks; a memory console never sleeps.
bool platform_console_input_count(ConsoleHandle input, uint32_t* count);

/// Removes up to `length` records from the queue into `records`, waiting until at least
/// one is there (a memory console and an ended input never wait); stores the count read.
bool platform_console_read_input(ConsoleHandle input, ConsoleInputRecord* records, uint32_t length,
                                 uint32_t* read);

/// True when `input` is not a console and all of it has been read: no key will come.
bool platform_console_input_ended(ConsoleHandle input);

/// Writes bytes to an output that is not a console; a line break is "\n".
bool platform_stream_write(ConsoleHandle output, const char* bytes, uint32_t length);

/// The bytes that end a line on an output that is not a console.
const char* platform_stream_line_break();

/// Whether `handle` is a console held in memory that a test installed (which paints its
/// cells whatever the program writes).
bool platform_console_is_memory(ConsoleHandle handle);

/// Lends the terminal to another program while it runs (`lend`: its input modes as they were
/// found), and takes it back for this program afterwards. Nothing where this program has not
/// changed them.
void platform_console_lend(bool lend);
