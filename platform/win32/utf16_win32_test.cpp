// Names between UTF-8 and UTF-16: what converts, what is refused, where a cut may fall.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/utf16.h"

namespace {

const char* utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

std::wstring widened(const char* text) {
  WidePath wide;
  return utf8_to_wide(text, &wide) ? std::wstring(wide.text) : L"<refused>";
}

TEST(Utf16Test, ValidUtf8BecomesTheSameCharactersInUtf16) {
  EXPECT_EQ(widened("pactest.pac"), L"pactest.pac");
  EXPECT_EQ(widened(""), L"");
  EXPECT_EQ(widened(utf8(u8"Grüße/€.txt")), L"Grüße/€.txt");
  EXPECT_EQ(widened(utf8(u8"日本語の名前")), L"日本語の名前");
  EXPECT_EQ(widened(utf8(u8"😀")), std::wstring({0xD83D, 0xDE00}));  // beyond 16 bits: a pair
}

TEST(Utf16Test, WhatIsNotUtf8IsRefused) {
  const char* refused[] = {
      "bad\xFF",          // never a UTF-8 byte
      "a\x80",            // a continuation byte without a lead
      "\xE2\x82",         // a character cut short
      "\xC0\xAF",         // an overlong '/'
      "\xED\xA0\x80",     // an encoded surrogate
      "\xF4\x90\x80\x80"  // beyond U+10FFFF
  };
  for (const char* text : refused) EXPECT_EQ(widened(text), L"<refused>") << text;
  WidePath wide;
  EXPECT_FALSE(utf8_to_wide(nullptr, &wide));
  EXPECT_EQ(wide.text[0], 0);
}

TEST(Utf16Test, PathsFitUpToTheLimit) {
  const std::string longest(kMaxPathSize - 1, 'a');
  EXPECT_EQ(widened(longest.c_str()).size(), longest.size());
  EXPECT_EQ(widened((longest + "a").c_str()), L"<refused>");
}

TEST(Utf16Test, Utf16BecomesUtf8OrIsRefused) {
  char out[16];
  const std::wstring text = L"Grüße €";
  const uint32_t length = static_cast<uint32_t>(text.size());
  ASSERT_EQ(wide_to_utf8(text.c_str(), length, out, sizeof out), 11);
  EXPECT_EQ(std::string(out, 11), utf8(u8"Grüße €"));
  EXPECT_EQ(wide_to_utf8(text.c_str(), length, out, 10), -1);  // too small
  EXPECT_EQ(wide_to_utf8(text.c_str(), length, out, 0), -1);
  EXPECT_EQ(wide_to_utf8(text.c_str(), 0, out, sizeof out), 0);
  const std::wstring lone = {L'a', 0xD800, L'b'};
  EXPECT_EQ(wide_to_utf8(lone.c_str(), 3, out, sizeof out), -1);
}

}  // namespace
