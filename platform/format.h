// Number formatting: the text of a 32-bit value in the three formats the runtime uses.
#pragma once

#include <cstdint>

/// Longest text any of the formats gives, its terminating zero included.
inline constexpr int kFormatMaxLength = 12;

/// Writes `value` as text into `dest` (room for kFormatMaxLength bytes) following `format`,
/// one of "%ld" (signed decimal), "%lu" (unsigned decimal) and "%lX" (upper-case
/// hexadecimal), and ends it with a zero. `argument` points at the 32-bit value. Returns
/// the number of characters written, or 0 for any other format.
int platform_format_number(char* dest, const char* format, const uint32_t* argument);
