// The runtime's string functions. Every function that returns a string writes its result
// at `dest` (normally the statement's mark in the workspace), ends it with a zero, leaves
// the string cursor on that zero and returns `dest`. Sources may be null (the empty
// string) and may begin at `dest` itself: each source byte is read before the byte at the
// same or an earlier position is written. Positions are 1-based; counts are signed 32-bit.
// Results are cut where the workspace ends; a `dest` outside the workspace gets nothing.
#pragma once

#include <cstdint>

/// The library's module-level cells.
struct StringOpsState {
  uint32_t format_argument;  ///< the value handed to the number formatter
  int negative_flag;         ///< set by parse_decimal when the text carries a minus sign
};

extern StringOpsState string_ops_state;

/// Code (0 to 255) of the first byte of `source`; 0 for null or empty.
int32_t char_code_of(const char* source);

/// One-character string of the low 8 bits of `code`; cursor = dest + 1. A code whose low
/// byte is 0 gives the empty string, followed by a second zero on which the cursor stands.
char* string_of_char_code(int32_t code, char* dest);

/// 1-based position of the first occurrence of `pattern` in `source` at or after `start`,
/// 0 when there is none (see the search rules in the implementation).
int32_t string_find(const char* source, const char* pattern, int32_t start);

/// "%lX" of `value` read as unsigned.
char* hex_string_of(uint32_t value, char* dest);

/// Copy of `source` with A-Z and the bytes 192-223 raised by 32.
char* string_to_lower(const char* source, char* dest);

/// Copy of `source` with a-z and the bytes 224-255 lowered by 32.
char* string_to_upper(const char* source, char* dest);

/// The first `count` characters of `source` (all when it is shorter; none for count <= 0).
char* string_head(const char* source, int32_t count, char* dest);

/// Number of characters of `source`; 0 for null.
int32_t string_length(const char* source);

/// Up to `count` characters of `source` from position `start` (1 or less: the first).
char* string_slice(const char* source, int32_t start, int32_t count, char* dest);

/// The last min(count, length) characters of `source`. A null source writes a zero at the
/// string cursor, leaves the cursor in place and returns `dest`.
char* string_tail(const char* source, int32_t count, char* dest);

/// "%ld" of `value` read as signed.
char* decimal_string_of(int32_t value, char* dest);

/// "%lu" of `value` masked by `width_code`: 0 keeps 8 bits, 1 keeps 16, any other 32.
char* unsigned_string_of(uint32_t value, int32_t width_code, char* dest);

/// `source` without its leading blanks; copying also stops where the string cursor stood
/// at the call, so a result may be built right behind a source that ends there.
char* string_strip_leading(const char* source, char* dest);

/// `source` without its trailing blanks.
char* string_strip_trailing(const char* source, char* dest);

/// `source` without leading and trailing blanks; blanks inside stay.
char* string_strip(const char* source, char* dest);

/// `count` blanks; a count of 0 or less gives the empty string.
char* string_of_spaces(int32_t count, char* dest);

/// Signed 32-bit value of the decimal number at the start of `source` (after blanks and
/// one optional sign), computed modulo 2^32; 0 for null or a text without digits.
int32_t parse_decimal(const char* source);
