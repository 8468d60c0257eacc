// UTF-8 and UTF-16 through the system's own converters, which refuse what is not valid.
#include <windows.h>

#include "platform/win32/utf16.h"

namespace {

/// Bytes a UTF-16 unit outside a surrogate pair takes in UTF-8.
uint32_t utf8_bytes_of(wchar_t unit) {
  return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
}

bool is_high_surrogate(wchar_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(wchar_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

/// Bytes of UTF-8 a surrogate pair (one character beyond the 16-bit range) takes.
constexpr uint32_t kPairBytes = 4;

}  // namespace

bool utf8_to_wide(const char* text, WidePath* out) {
  out->text[0] = 0;
  if (!text) return false;
  // With the length -1 the terminating zero is converted too; an empty name gives 1.
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out->text, kMaxPathSize);
  if (units > 0) return true;
  out->text[0] = 0;
  return false;
}

uint32_t wide_units_within(const wchar_t* text, uint32_t length, uint32_t capacity) {
  uint32_t units = 0;
  uint32_t bytes = 0;
  while (units < length) {
    const bool pair =
        is_high_surrogate(text[units]) && units + 1 < length && is_low_surrogate(text[units + 1]);
    const uint32_t size = pair ? kPairBytes : utf8_bytes_of(text[units]);
    if (size > capacity - bytes) break;
    bytes += size;
    units += pair ? 2 : 1;
  }
  return units;
}

int wide_to_utf8(const wchar_t* text, uint32_t length, char* out, uint32_t capacity) {
  if (length == 0) return 0;     // the system refuses to convert nothing
  if (capacity == 0) return -1;  // a capacity of 0 would only ask for the size
  const int bytes =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), out,
                          static_cast<int>(capacity), nullptr, nullptr);
  return bytes > 0 ? bytes : -1;
}
