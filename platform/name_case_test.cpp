// The case rule of names, through its equality, its hash and its keys, with the back end of
// the platform the test runs on (the Windows one under Wine).
#include "platform/name_case.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

struct Pair {
  std::string a, b;
  bool equal;               ///< under the rule of every platform
  bool posix_only = false;  ///< equal off Windows only (the folding finds more twins)
};

const Pair kPairs[] = {
    {"Readme.TXT", "readme.txt", true},
    {"Dir/Sub/File", "dir/sub/file", true},
    {"\xC3\x9C"
     "bersicht.txt",
     "\xC3\xBC"
     "bersicht.TXT",
     true},                                          // Übersicht, übersicht
    {"\xC3\x80\xC3\x9E", "\xC3\xA0\xC3\xBE", true},  // ÀÞ, àþ
    {"\xCE\xA9.txt", "\xCF\x89.txt", true},          // Ω, ω
    {"\xD0\x94", "\xD0\xB4", true},                  // Д, д
    {"\xEF\xBC\xA1", "\xEF\xBD\x81", true},          // fullwidth Ａ, ａ
    {"\xC7\x85", "\xC7\x86", true},                  // ǅ, ǆ
    {"\xCF\x82", "\xCF\x83", true},                  // final ς, σ
    {"\xC4\x80", "\xC4\x81", true},                  // Ā, ā: every other one
    {"\xC8\xBA", "\xE2\xB1\xA5", true},              // Ⱥ, ⱥ: the small letter takes 3 bytes
    {"\xC4\xB1", "I", true},                         // dotless ı, whose upper case is I
    {"\xE2\x84\xAA", "k", false, true},              // the Kelvin sign, k
    {"\xE1\xBA\x9E", "\xC3\x9F", false, true},       // ẞ, ß
    {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", false, true},  // Deseret 𐐀, 𐐨
    {"\xC3\x9F", "ss", false},                              // ß, ss: simple folding only
    {"\xC4\xB0", "i", false},                               // İ, i
    {"\xC3\x97", "\xC3\xB7", false},                        // × and ÷ are signs, not letters
    {"a", "b", false},
    {"a", "a ", false},
    {"a", "ab", false},
    {"[", "{", false},  // 0x5B and 0x7B differ only in the case bit
    {"@", "`", false},
    {"\xC4\x80", "\xC4\xA0", false},  // Ā, Ġ
    {"\x80", "\xA0", false},          // bytes that are not UTF-8
    {"A\xFF", "a\xFF", true},         // ... kept as they are beside letters
    {"\xC3\x83", "\xC3\x00", false},  // Ã, and a lead byte cut short
    {"", "", true},
    {"", "a", false},
};

bool equal(const std::string& a, const std::string& b) {
  return names_equal_ignoring_case(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                                   reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

uint32_t hash(const std::string& name) {
  return name_hash_ignoring_case(reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

TEST(NameCase, TwinsAreEqualAndHashAlikeOthersDiffer) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(testing::PrintToString(pair.a) + " " + testing::PrintToString(pair.b));
    const bool expected = pair.equal || (pair.posix_only && !kWindows);
    EXPECT_EQ(equal(pair.a, pair.b), expected);
    EXPECT_EQ(equal(pair.b, pair.a), expected);
    if (expected) {
      EXPECT_EQ(hash(pair.a), hash(pair.b));
    }
  }
}

TEST(NameCase, LongestNamesFoldAndLongerOnesAreTheirBytes) {
  // Names of letters whose folding takes more bytes, up to the longest: the key has room.
  std::string capitals, smalls;
  while (smalls.size() + 3 <= kNameCaseMaxSize) {
    capitals += "\xC8\xBA";    // Ⱥ
    smalls += "\xE2\xB1\xA5";  // ⱥ
  }
  EXPECT_TRUE(equal(capitals, smalls));
  EXPECT_EQ(hash(capitals), hash(smalls));
  while (capitals.size() + 2 <= kNameCaseMaxSize) capitals += "\xC8\xBA";
  EXPECT_TRUE(equal(capitals, capitals));
  EXPECT_FALSE(equal(capitals, capitals.substr(2) + "A"));
  const std::string longer(kNameCaseMaxSize + 1, 'A');
  EXPECT_TRUE(equal(longer, longer));
  EXPECT_FALSE(equal(longer, std::string(kNameCaseMaxSize + 1, 'a')));
  EXPECT_EQ(hash(longer), hash(std::string(longer)));
}

}  // namespace
