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

/// What a rule answers for a pair: under Windows' own rule some answers are the system's to
/// give (those that differ between its versions or Wine).
enum Answer { differ, same, system_decides };

struct Pair {
  std::string a, b;
  Answer posix, windows;
};

// Windows (and Wine, which the Windows tests run under) keeps a few letters apart that the
// folding joins: ǅ and ǆ (a title-case letter is its own upper case), ς and σ, ı and I.
const Pair kPairs[] = {
    {"Readme.TXT", "readme.txt", same, same},
    {"Dir/Sub/File", "dir/sub/file", same, same},
    {"\xC3\x9C"
     "bersicht.txt",
     "\xC3\xBC"
     "bersicht.TXT",
     same, same},                                          // Übersicht, übersicht
    {"\xC3\x80\xC3\x9E", "\xC3\xA0\xC3\xBE", same, same},  // ÀÞ, àþ
    {"\xCE\xA9.txt", "\xCF\x89.txt", same, same},          // Ω, ω
    {"\xD0\x94", "\xD0\xB4", same, same},                  // Д, д
    {"\xEF\xBC\xA1", "\xEF\xBD\x81", same, same},          // fullwidth Ａ, ａ
    {"\xC4\x80", "\xC4\x81", same, same},                  // Ā, ā: every other one
    {"\xC8\xBA", "\xE2\xB1\xA5", same, same},    // Ⱥ, ⱥ: the small letter takes 3 bytes
    {"\xC7\x85", "\xC7\x86", same, differ},      // ǅ, ǆ
    {"\xCF\x82", "\xCF\x83", same, differ},      // final ς, σ
    {"\xC4\xB1", "I", same, differ},             // dotless ı, whose upper case is I
    {"\xE2\x84\xAA", "k", same, differ},         // the Kelvin sign, k
    {"\xE1\xBA\x9E", "\xC3\x9F", same, differ},  // ẞ, ß
    {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", same, system_decides},  // Deseret 𐐀, 𐐨
    {"\xC3\x9F", "ss", differ, differ},                              // ß, ss: simple folding only
    {"\xC4\xB0", "i", differ, differ},                               // İ, i
    {"\xC3\x97", "\xC3\xB7", differ, differ},  // × and ÷ are signs, not letters
    {"a", "b", differ, differ},
    {"a", "a ", differ, differ},
    {"a", "ab", differ, differ},
    {"[", "{", differ, differ},  // 0x5B and 0x7B differ only in the case bit
    {"@", "`", differ, differ},
    {"\xC4\x80", "\xC4\xA0", differ, differ},  // Ā, Ġ
    // Bytes that are not UTF-8: kept as they are; off Windows letters beside them fold.
    {"\x80", "\xA0", differ, differ},
    {"A\xFF", "a\xFF", same, differ},
    {"\xC3\x83", "\xC3", differ, differ},  // Ã, and its lead byte cut short
    {"\xC3\x80\xFF", "\xC3\x80", differ, differ},
    {"A\xFF", "A\xFF", same, same},
    {"", "", same, same},
    {"", "a", differ, differ},
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
    const Answer answer = kWindows ? pair.windows : pair.posix;
    if (answer == system_decides) continue;
    const bool expected = answer == same;
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
