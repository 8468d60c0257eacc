// Keyboard input: key events read one record at a time from the console's input queue,
// a poll that never waits, and a line input that paints its own echo.
#pragma once

#include <cstdint>

/// Character given for a key that has none (function keys, cursor keys, Shift ...).
inline constexpr uint8_t kNoCharacter = 255;

/// Reads one input record, waiting until one is there. A key press gives its character
/// in the low byte and its scan code in the high byte; any other record gives 0.
uint32_t console_read_key_event();

/// Without waiting: when a record is waiting, takes it; a key press gives, at the string
/// cursor, its character (255 for none) and its scan code, zero-terminated, and moves the
/// cursor on by 2. Otherwise the empty string at the cursor, which stays.
char* console_poll_key();

/// Reads a line with echo until Enter; Backspace erases, control keys are ignored, the
/// line never wraps (nor grows past the workspace). The result is built at the string
/// cursor, which ends on its zero.
char* console_input_line();

/// True when the standard input is not a console and has ended: no key will come, so a
/// loop waiting for one should stop.
bool console_input_ended();
