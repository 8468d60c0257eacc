// Translation between the console's 8-bit world and a terminal: glyphs for painting the
// bytes of a cell, colour escape sequences, and the decoding of typed bytes (UTF-8 and
// escape sequences) into key records with PC scan codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console.h"

/// UTF-8 text that shows byte `byte` of a cell: bytes 0-31 and 127 as visible control
/// pictures, 32-126 as themselves, 128-255 as their Windows-1252 characters.
const char* terminal_glyph(uint8_t byte);

/// Windows-1252 byte of Unicode code point `code_point`, or -1 when it has none.
int terminal_cp1252_of(uint32_t code_point);

/// Bytes of the longest colour sequence with its terminating 0.
inline constexpr size_t kTerminalColourSequenceSize = 16;

/// Writes the escape sequence that selects the colours of `attribute` into `out`
/// (kTerminalColourSequenceSize bytes) with a terminating 0 and returns its length; the
/// colours of `default_attribute` stand for the terminal's own default colours.
size_t terminal_colour_sequence(uint16_t attribute, uint16_t default_attribute, char* out);

/// Decodes the key at the front of `bytes[0..length)`. Returns the number of bytes it
/// takes, with `*record` and `*has_record` set (an unknown escape sequence is taken
/// without a record). Returns 0 when the bytes begin a sequence that is not complete yet;
/// with `complete` set, such a start is decoded as far as it goes instead.
size_t terminal_decode_key(const unsigned char* bytes, size_t length, bool complete,
                           ConsoleInputRecord* record, bool* has_record);
