// Windows-1252, the 8-bit character set in which the console library paints its cells on
// every platform and in which entry names are shown: ASCII, the C1 range 0x80-0x9F mostly
// given to typographic characters (€, „, …, Š, Œ, Ž, ‘ ’ “ ” and others), and Latin-1 from
// 0xA0 on. The one table of it, for the console back ends and the names shown.
#pragma once

#include <cstdint>

/// Bytes before the range that differs from Latin-1, and the size of that range.
inline constexpr uint8_t kWindows1252HighStart = 0x80;
inline constexpr uint8_t kWindows1252HighCount = 32;

/// The Unicode characters of the bytes 0x80-0x9F; 0 for the five bytes without one (0x81,
/// 0x8D, 0x8F, 0x90, 0x9D).
inline constexpr uint16_t kWindows1252High[kWindows1252HighCount] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

/// The Unicode code point of `byte`; 0 for the five bytes without a character.
constexpr uint32_t windows_1252_to_unicode(uint8_t byte) {
  const uint32_t high = uint32_t(byte) - kWindows1252HighStart;
  return high < kWindows1252HighCount ? kWindows1252High[high] : byte;
}

/// The byte of `code_point`, controls included, or -1 when Windows-1252 has no such
/// character.
constexpr int windows_1252_of(uint32_t code_point) {
  constexpr uint32_t kLatin1Start = 0xA0, kLatin1End = 0xFF;
  if (code_point < kWindows1252HighStart ||
      (code_point >= kLatin1Start && code_point <= kLatin1End))
    return int(code_point);
  for (uint32_t i = 0; i < kWindows1252HighCount; ++i) {
    if (kWindows1252High[i] != 0 && kWindows1252High[i] == code_point)
      return int(kWindows1252HighStart + i);
  }
  return -1;
}
