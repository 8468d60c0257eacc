#include "platform/posix/terminal_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Decoded {
  std::vector<ConsoleInputRecord> keys;
  size_t left;  // bytes not taken
};

Decoded decode(const std::string& bytes, bool complete) {
  Decoded d{{}, 0};
  size_t at = 0;
  while (at < bytes.size()) {
    ConsoleInputRecord r;
    bool has = false;
    size_t used = terminal_decode_key(reinterpret_cast<const unsigned char*>(bytes.data()) + at,
                                      bytes.size() - at, complete, &r, &has);
    if (used == 0) break;
    if (has) d.keys.push_back(r);
    at += used;
  }
  d.left = bytes.size() - at;
  return d;
}

uint8_t ch(const ConsoleInputRecord& r) {
  return static_cast<uint8_t>(r.ascii_char);
}

}  // namespace

TEST(TerminalCodec, CharactersCarryTheScanCodeOfTheirKey) {
  Decoded d = decode("jJ\r \x7f", false);
  ASSERT_EQ(d.keys.size(), 5u);
  EXPECT_EQ(ch(d.keys[0]), 'j');
  EXPECT_EQ(d.keys[0].virtual_scan_code, 0x24);
  EXPECT_EQ(d.keys[1].virtual_scan_code, 0x24);
  EXPECT_EQ(d.keys[2].virtual_scan_code, 0x1C);
  EXPECT_EQ(d.keys[3].virtual_scan_code, 0x39);
  EXPECT_EQ(ch(d.keys[4]), 8);  // the terminal's erase key is Backspace
  EXPECT_EQ(d.keys[4].virtual_scan_code, 0x0E);
  EXPECT_EQ(d.keys[0].event_type, kKeyEvent);
  EXPECT_EQ(d.keys[0].key_down, 1u);
}

TEST(TerminalCodec, FunctionAndCursorKeysHaveNoCharacter) {
  Decoded d = decode("\x1bOP\x1b[A\x1b[B\x1b[D\x1b[C\x1b[15~\x1b[1;5A\x1b[24~", false);
  const uint16_t scans[] = {0x3B, 0x48, 0x50, 0x4B, 0x4D, 0x3F, 0x48, 0x58};
  ASSERT_EQ(d.keys.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(ch(d.keys[i]), 0) << i;
    EXPECT_EQ(d.keys[i].virtual_scan_code, scans[i]) << i;
  }
  EXPECT_EQ(d.left, 0u);
}

TEST(TerminalCodec, IncompleteSequencesWaitUnlessComplete) {
  EXPECT_EQ(decode("\x1b[1", false).left, 3u);
  Decoded lone = decode("\x1b", true);
  ASSERT_EQ(lone.keys.size(), 1u);
  EXPECT_EQ(ch(lone.keys[0]), 27);
  EXPECT_EQ(lone.keys[0].virtual_scan_code, 0x01);
  EXPECT_EQ(decode("\xc3", false).left, 1u);
  // Escape followed by an ordinary key: two keys.
  EXPECT_EQ(decode("\x1bx", false).keys.size(), 2u);
  // An unknown sequence is taken whole without a key.
  Decoded unknown = decode("\x1b[99zq", false);
  ASSERT_EQ(unknown.keys.size(), 1u);
  EXPECT_EQ(ch(unknown.keys[0]), 'q');
}

TEST(TerminalCodec, Utf8MapsBackToWindows1252) {
  Decoded d = decode("\xc3\xa4\xe2\x82\xac\xe4\xb8\xad\xc3\x9f", false);
  ASSERT_EQ(d.keys.size(), 4u);
  EXPECT_EQ(ch(d.keys[0]), 0xE4);
  EXPECT_EQ(ch(d.keys[1]), 0x80);
  EXPECT_EQ(ch(d.keys[2]), 0);  // outside the code page: a key without a character
  EXPECT_EQ(ch(d.keys[3]), 0xDF);
  EXPECT_EQ(terminal_cp1252_of(0x2122), 0x99);
  EXPECT_EQ(terminal_cp1252_of(0x0100), -1);
}

TEST(TerminalCodec, GlyphsNeverSendControlBytes) {
  for (int b = 0; b < 256; ++b) {
    const std::string g = terminal_glyph(static_cast<uint8_t>(b));
    ASSERT_FALSE(g.empty()) << b;
    for (unsigned char c : g) ASSERT_TRUE(c >= 0x20 && c != 0x7F) << b;
  }
  EXPECT_STREQ(terminal_glyph('A'), "A");
  EXPECT_STREQ(terminal_glyph(0xE4), "\xc3\xa4");
  EXPECT_STREQ(terminal_glyph(0x80), "\xe2\x82\xac");
  EXPECT_STREQ(terminal_glyph(0), "\xe2\x90\x80");
  EXPECT_STREQ(terminal_glyph(0x7F), "\xe2\x90\xa1");
}

TEST(TerminalCodec, ColoursRelativeToTheDefault) {
  EXPECT_EQ(terminal_colour_sequence(0x07, 0x07), "\x1b[0m");
  EXPECT_EQ(terminal_colour_sequence(0x1E, 0x07), "\x1b[0;93;44m");
  EXPECT_EQ(terminal_colour_sequence(0x0C, 0x07), "\x1b[0;91m");
  EXPECT_EQ(terminal_colour_sequence(0x47, 0x07), "\x1b[0;41m");
  // The longest sequence, bright on bright, fits the stated size.
  char longest[kTerminalColourSequenceSize];
  EXPECT_EQ(terminal_colour_sequence(0xFF, 0x07, longest), 11u);
  EXPECT_STREQ(longest, "\x1b[0;97;107m");
}
