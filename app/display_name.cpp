#include "app/display_name.h"

namespace {

/// The characters of Windows-1252 bytes 0x80 to 0x9F; 0 where the byte has none.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};
constexpr uint32_t kFirstLatin1 = 0xA0;
constexpr uint32_t kLastLatin1 = 0xFF;
constexpr uint32_t kFirstPrintable = 0x20;
constexpr uint32_t kDelete = 0x7F;

/// The Windows-1252 byte of `code_point`, or the placeholder.
char windows_1252_of(uint32_t code_point) {
  if (code_point >= kFirstPrintable && code_point < kDelete) return char(code_point);
  if (code_point >= kFirstLatin1 && code_point <= kLastLatin1) return char(code_point);
  for (uint32_t i = 0; i < 32; ++i) {
    if (kHighControls[i] != 0 && kHighControls[i] == code_point) return char(0x80 + i);
  }
  return kDisplayPlaceholder;
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
    out[used++] = windows_1252_of(next_code_point(name, size, &at));
  }
  out[used] = 0;
}
