// Entry names shown in Windows-1252.
#include "app/display_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string shown(const std::string& name, size_t capacity = 64) {
  std::string out(capacity, 'X');
  display_name(reinterpret_cast<const uint8_t*>(name.data()), name.size(), out.data(), capacity);
  return out.substr(0, out.find('\0'));
}

}  // namespace

TEST(DisplayNameTest, CharactersOfWindows1252AreShownAndOthersReplaced) {
  EXPECT_EQ(shown("plain/name.txt"), "plain/name.txt");
  EXPECT_EQ(shown("\xC3\x9C"
                  "bersicht.txt"),
            "\xDC"
            "bersicht.txt");  // Ü
  EXPECT_EQ(shown("Gr\xC3\xBC\xC3\x9F"
                  "e/\xE2\x82\xAC.txt"),
            "Gr\xFC\xDF"
            "e/\x80.txt");                                           // €
  EXPECT_EQ(shown("\xC5\x93\xE2\x80\x94\xC5\xB8"), "\x9C\x97\x9F");  // œ — Ÿ
  EXPECT_EQ(shown("\xE6\x96\x87\xE6\x9B\xB8.txt"), "??.txt");        // CJK
  EXPECT_EQ(shown("\xF0\x9F\x98\x80"), "?");                         // an emoji
  EXPECT_EQ(shown("\xC2\x81\xC2\xA0"), "?\xA0");                     // a C1 control; no-break space
  EXPECT_EQ(shown("a\tb\x7F"), "a?b?");
}

TEST(DisplayNameTest, BrokenUtf8GivesOnePlaceholderPerByteAndNothingOutsideTheBuffer) {
  EXPECT_EQ(shown("\xC3"), "?");       // cut short
  EXPECT_EQ(shown("\xE2\x82"), "??");  // cut short
  EXPECT_EQ(shown("\xC0\xAF"
                  "x"),
            "??x");  // overlong
  EXPECT_EQ(shown("\x80\xBF"
                  "y"),
            "??y");                                  // continuation bytes alone
  EXPECT_EQ(shown("\xE2\x82\xACtail", 3), "\x80t");  // cut to the buffer
  EXPECT_EQ(shown("abc", 1), "");
}
