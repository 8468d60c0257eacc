#include "app/display_name.h"

#include "platform/windows_1252.h"

namespace {

constexpr uint32_t kFirstPrintable = 0x20;
constexpr uint32_t kDelete = 0x7F;

/// The Windows-1252 byte that shows `code_point`, or the placeholder (for a control too).
char shown_byte(uint32_t code_point) {
  if (code_point < kFirstPrintable || code_point == kDelete) return kDisplayPlaceholder;
  const int byte = windows_1252_of(code_point);
  return byte < 0 ? kDisplayPlaceholder : char(byte);
}

/// Decodes the UTF-8 sequence at `name[*at]` and moves `*at` past it. A byte that does not
/// start a valid sequence is taken alone and gives a code point that is never shown.
uint32_t next_code_point(const uint8_t* name, size_t size, size_t* at) {
  constexpr uint32_t kInvalid = 0xFFFFFFFF;
  const uint8_t lead = name[(*at)++];
  if (lead < 0x80) return lead;
  size_t follow = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    follow = 1, value = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    follow = 2, value = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    follow = 3, value = lead & 0x07u, minimum = 0x10000;
  } else {
    return kInvalid;
  }
  if (size - *at < follow) return kInvalid;
  for (size_t i = 0; i < follow; ++i) {
    if ((name[*at + i] & 0xC0) != 0x80) return kInvalid;
    value = (value << 6) | (name[*at + i] & 0x3Fu);
  }
  if (value < minimum) return kInvalid;  // an overlong form
  *at += follow;
  return value;
}

}  // namespace

void display_name(const uint8_t* name, size_t size, char* out, size_t capacity) {
  size_t used = 0;
  size_t at = 0;
  while (at < size && used + 1 < capacity) {
    out[used++] = shown_byte(next_code_point(name, size, &at));
  }
  out[used] = 0;
}

void display_name_utf8(const uint8_t* name, size_t size, char* out, size_t capacity) {
  constexpr uint32_t kFirstAfterControls = 0xA0;  // C1 controls end at 0x9F
  size_t used = 0;
  size_t at = 0;
  while (at < size && used + 1 < capacity) {
    const size_t start = at;
    const uint32_t code_point = next_code_point(name, size, &at);
    const size_t length = at - start;
    // Controls, and the marks that turn the direction of the text, are never passed on.
    const bool direction_mark = (code_point >= 0x202A && code_point <= 0x202E) ||
                                (code_point >= 0x2066 && code_point <= 0x2069);
    if (code_point < kFirstAfterControls || code_point == 0xFFFFFFFF || direction_mark) {
      out[used++] = code_point < 0x80 ? shown_byte(code_point) : kDisplayPlaceholder;
      continue;
    }
    if (used + length + 1 > capacity) break;
    for (size_t i = 0; i < length; ++i) out[used++] = static_cast<char>(name[start + i]);
  }
  out[used] = 0;
}
