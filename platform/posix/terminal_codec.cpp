#include "platform/posix/terminal_codec.h"

#include <cstring>

#include "platform/key_records.h"
#include "platform/windows_1252.h"

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;
constexpr uint32_t kControlPictures = 0x2400;  // U+2400..U+241F, then U+2421 for DEL
constexpr uint32_t kDeletePicture = 0x2421;

constexpr uint8_t kScanEscape = 0x01;
constexpr uint8_t kEscape = 0x1B;
constexpr uint8_t kDelete = 0x7F;

// Keys without a character: the final byte of "ESC [ ..." or "ESC O ..." sequences.
struct FinalKey {
  char final_byte;
  uint8_t scan;
};
constexpr FinalKey kFinalKeys[] = {{'A', 0x48}, {'B', 0x50}, {'C', 0x4D}, {'D', 0x4B},
                                   {'H', 0x47}, {'F', 0x4F}, {'P', 0x3B}, {'Q', 0x3C},
                                   {'R', 0x3D}, {'S', 0x3E}, {'E', 0x4C}};

// Keys of "ESC [ n ~" sequences by their number n.
struct TildeKey {
  int number;
  uint8_t scan;
};
constexpr TildeKey kTildeKeys[] = {{1, 0x47},  {2, 0x52},  {3, 0x53},  {4, 0x4F},  {5, 0x49},
                                   {6, 0x51},  {7, 0x47},  {8, 0x4F},  {11, 0x3B}, {12, 0x3C},
                                   {13, 0x3D}, {14, 0x3E}, {15, 0x3F}, {17, 0x40}, {18, 0x41},
                                   {19, 0x42}, {20, 0x43}, {21, 0x44}, {23, 0x57}, {24, 0x58}};

/// Encodes `code_point` as UTF-8 into `out` (at least 5 bytes).
constexpr void put_utf8(uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    out[1] = 0;
  } else if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    out[2] = 0;
  } else {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    out[3] = 0;
  }
}

constexpr uint32_t code_point_of_byte(uint8_t byte) {
  if (byte < 0x20) return kControlPictures + byte;
  if (byte == kDelete) return kDeletePicture;
  const uint32_t mapped = windows_1252_to_unicode(byte);
  return mapped ? mapped : kReplacementCharacter;
}

struct GlyphTable {
  char glyphs[256][5] = {};
  constexpr GlyphTable() {
    for (int b = 0; b < 256; ++b) put_utf8(code_point_of_byte(static_cast<uint8_t>(b)), glyphs[b]);
  }
};

/// The glyph of every byte, made at compile time.
constexpr GlyphTable kGlyphs;

/// ANSI colour index (red 1, green 2, blue 4) of a 4-bit console colour.
int ansi_index(int colour) {
  return ((colour & 4) ? 1 : 0) | (colour & 2) | ((colour & 1) ? 4 : 0);
}

/// Appends ";" and the decimal `value` (below 1000) to the sequence of `n` bytes in `out`;
/// returns its new length.
size_t put_parameter(char* out, size_t n, int value) {
  out[n++] = ';';
  if (value >= 100) out[n++] = static_cast<char>('0' + value / 100);
  out[n++] = static_cast<char>('0' + value / 10 % 10);
  out[n++] = static_cast<char>('0' + value % 10);
  return n;
}

/// Length of the UTF-8 sequence that `lead` begins; 1 for a byte that begins none.
size_t utf8_length(uint8_t lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

/// Decodes a CSI or SS3 sequence that starts at bytes[0] == ESC. See terminal_decode_key.
size_t decode_escape(const unsigned char* bytes, size_t length, bool complete,
                     ConsoleInputRecord* record, bool* has_record) {
  if (length < 2) {
    if (!complete) return 0;
    *record = key_down_record(kEscape, kScanEscape);
    *has_record = true;
    return 1;
  }
  if (bytes[1] != '[' && bytes[1] != 'O') {
    *record = key_down_record(kEscape, kScanEscape);  // Escape, then the next key on its own
    *has_record = true;
    return 1;
  }
  size_t i = 2;
  int number = 0;
  for (; i < length && bytes[i] >= '0' && bytes[i] <= '9' && number < 1000; ++i)
    number = number * 10 + (bytes[i] - '0');
  while (i < length && bytes[i] >= 0x20 && bytes[i] <= 0x3F) ++i;  // modifier parameters
  if (i >= length) {
    if (!complete) return 0;
    *has_record = false;
    return length;
  }
  const char final_byte = static_cast<char>(bytes[i]);
  *has_record = false;
  uint8_t scan = 0;
  if (final_byte == '~') {
    for (const TildeKey& k : kTildeKeys)
      if (k.number == number) scan = k.scan;
  } else {
    for (const FinalKey& k : kFinalKeys)
      if (k.final_byte == final_byte) scan = k.scan;
  }
  if (scan != 0) {
    *record = key_down_record(0, scan);
    *has_record = true;
  }
  return i + 1;
}

/// Decodes one UTF-8 character into its Windows-1252 key.
size_t decode_utf8(const unsigned char* bytes, size_t length, bool complete,
                   ConsoleInputRecord* record, bool* has_record) {
  size_t n = utf8_length(bytes[0]);
  if (n > length) {
    if (!complete) return 0;
    n = length;
  }
  uint32_t code_point = 0;
  bool valid = n > 1;
  if (valid) {
    code_point = bytes[0] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
      if ((bytes[i] & 0xC0) != 0x80) {
        valid = false;
        n = i;
        break;
      }
      code_point = (code_point << 6) | (bytes[i] & 0x3F);
    }
  }
  int mapped = valid ? terminal_cp1252_of(code_point) : -1;
  // A character outside the code page is a key without a character.
  *record = key_down_record(mapped > 0 ? static_cast<uint8_t>(mapped) : 0, 0);
  *has_record = true;
  return n;
}

}  // namespace

const char* terminal_glyph(uint8_t byte) {
  return kGlyphs.glyphs[byte];
}

int terminal_cp1252_of(uint32_t code_point) {
  return windows_1252_of(code_point);
}

size_t terminal_colour_sequence(uint16_t attribute, uint16_t default_attribute, char* out) {
  const int fg = attribute & 0x0F;
  const int bg = (attribute >> 4) & 0x0F;
  size_t n = 0;
  out[n++] = static_cast<char>(kEscape);
  out[n++] = '[';
  out[n++] = '0';
  if (fg != (default_attribute & 0x0F))
    n = put_parameter(out, n, (fg & 8 ? 90 : 30) + ansi_index(fg));
  if (bg != ((default_attribute >> 4) & 0x0F))
    n = put_parameter(out, n, (bg & 8 ? 100 : 40) + ansi_index(bg));
  out[n++] = 'm';
  out[n] = 0;
  return n;
}

size_t terminal_decode_key(const unsigned char* bytes, size_t length, bool complete,
                           ConsoleInputRecord* record, bool* has_record) {
  *has_record = false;
  if (length == 0) return 0;
  if (bytes[0] == kEscape) return decode_escape(bytes, length, complete, record, has_record);
  if (bytes[0] < 0x80) {
    *record = key_of_byte(bytes[0]);
    *has_record = true;
    return 1;
  }
  return decode_utf8(bytes, length, complete, record, has_record);
}
