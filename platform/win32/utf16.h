// Between the Windows back ends: names cross the platform layer in UTF-8 and reach the
// system's wide calls in UTF-16.
#pragma once

#include <cstdint>

#include "platform/process.h"

/// Bytes of UTF-8 a UTF-16 unit makes at most (a surrogate pair, two units, makes 4).
inline constexpr uint32_t kMaxUtf8BytesPerUnit = 3;

/// A path in UTF-16 for the system's wide calls. Every UTF-8 byte makes at most one UTF-16
/// unit, so any path of fewer than kMaxPathSize bytes fits.
struct WidePath {
  wchar_t text[kMaxPathSize];
};

/// Converts the zero-terminated UTF-8 `text` into `*out`, zero-terminated. False when
/// `text` is null, is not valid UTF-8 (overlong forms and encoded surrogates included) or
/// does not fit; `*out` is then the empty string.
bool utf8_to_wide(const char* text, WidePath* out);

/// Converts the first `length` units of `text` into UTF-8 in `out` of `capacity` bytes,
/// without a terminating zero. Returns the number of bytes written, or -1 when `text` is
/// not valid UTF-16 (a surrogate without its partner) or the result does not fit.
int wide_to_utf8(const wchar_t* text, uint32_t length, char* out, uint32_t capacity);
