// The case rule off Windows: the simple case folding of the Unicode character database, from
// the table that tools/case_fold_gen.cpp makes at build time (its packing is described
// there). A name's key is the name with each code point folded, in UTF-8.
#include "platform/name_case.h"

namespace {

#include "case_fold_table.inc"

constexpr int kStartShift = 15;
constexpr int kLengthShift = 8;
constexpr uint32_t kLengthMask = 0x7F;
constexpr uint32_t kEveryOtherBit = 1u << 7;
constexpr uint32_t kDistanceMask = 0x7F;
constexpr size_t kRunCount = sizeof kCaseFoldRuns / sizeof kCaseFoldRuns[0];

/// The simple case folding of `c` (itself when it has none).
uint32_t folded(uint32_t c) {
  if (c < 'A' || c > kCaseFoldLastCodePoint) return c;
  // The first run that starts after c; the one before it is the only one that may hold c.
  const uint32_t after = (c + 1) << kStartShift;
  size_t low = 0, high = kRunCount;
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (kCaseFoldRuns[middle] < after) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return c;
  const uint32_t run = kCaseFoldRuns[low - 1];
  const uint32_t offset = c - (run >> kStartShift);
  const uint32_t stride = (run & kEveryOtherBit) ? 2 : 1;
  if (offset % stride != 0 || offset / stride > ((run >> kLengthShift) & kLengthMask)) return c;
  return uint32_t(int32_t(c) + kCaseFoldDistances[run & kDistanceMask]);
}

/// Decodes the valid UTF-8 sequence at `s` (left bytes available) into `*c` and returns its
/// size, or 0 when no valid sequence starts there (overlong forms, surrogates and code points
/// above U+10FFFF are not valid).
size_t decode(const uint8_t* s, size_t left, uint32_t* c) {
  const uint8_t lead = s[0];
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  size_t size;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, minimum = 0x80, *c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, minimum = 0x800, *c = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, minimum = 0x10000, *c = lead & 0x07u;
  } else {
    return 0;
  }
  if (left < size) return 0;
  for (size_t i = 1; i < size; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (s[i] & 0x3Fu);
  }
  const bool surrogate = *c >= 0xD800 && *c <= 0xDFFF;
  return *c < minimum || surrogate || *c > 0x10FFFF ? 0 : size;
}

/// Writes `c` in UTF-8 at `out` and returns the bytes written.
size_t encode(uint32_t c, uint8_t* out) {
  if (c < 0x80) {
    out[0] = uint8_t(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = uint8_t(0xC0 | c >> 6);
    out[1] = uint8_t(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = uint8_t(0xE0 | c >> 12);
    out[1] = uint8_t(0x80 | (c >> 6 & 0x3F));
    out[2] = uint8_t(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = uint8_t(0xF0 | c >> 18);
  out[1] = uint8_t(0x80 | (c >> 12 & 0x3F));
  out[2] = uint8_t(0x80 | (c >> 6 & 0x3F));
  out[3] = uint8_t(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

size_t name_case_key(const uint8_t* name, size_t size, uint8_t* key) {
  size_t written = 0;
  for (size_t at = 0; at < size;) {
    uint32_t c = 0;
    const size_t taken = decode(name + at, size - at, &c);
    if (taken == 0) {
      key[written++] = name[at++];  // not valid UTF-8: the byte as it is
      continue;
    }
    written += encode(folded(c), key + written);
    at += taken;
  }
  return written;
}
