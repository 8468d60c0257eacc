// Key records for input that does not come from a console: a byte of redirected input, or
// a byte typed on a terminal, becomes the key-down record of the key that gives it.
#pragma once

#include <cstdint>

#include "platform/console.h"

/// A key-down record (repeat count 1) for `character` with `scan_code`.
ConsoleInputRecord key_down_record(uint8_t character, uint8_t scan_code);

/// A key-down record for the character byte `character` with the PC scan code of its key
/// on a US layout: Enter for carriage return and line feed, Backspace for 8 and 127 (both
/// given as 8), the letter's key for Ctrl and a letter (1-26), 0 when the byte has no key
/// of its own.
ConsoleInputRecord key_of_byte(uint8_t character);
