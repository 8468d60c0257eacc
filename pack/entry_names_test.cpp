#include "pack/entry_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using P = EntryNameProblem;

P check(const std::string& name) {
  return entry_name_check(reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

bool same(const std::string& a, const std::string& b) {
  return entry_names_equal_ignoring_case(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                                         reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

TEST(EntryNameCheck, PlainNamesInAnyScriptAreAccepted) {
  for (const char* name :
       {"a", "readme.txt", "docs/handbuch/kapitel 1.txt",
        "\xC3\x9C"
        "bersicht.txt",
        "Gr\xC3\xBC\xC3\x9F"
        "e/\xE2\x82\xAC.txt",
        "\xE6\x96\x87\xE6\xA1\xA3/\xE8\xAF\xB4.md", "\xF0\x9F\x93\xA6.bin", ".hidden", "..data",
        "a..b", "x.y.z", "CONSOLE", "COM10", "LPT", "nul-device", "aux_", "CON_x.txt", "x/con_"}) {
    EXPECT_EQ(check(name), P::ok) << name;
  }
}

TEST(EntryNameCheck, WaysOutOfTheTargetFolderAreRefused) {
  const struct {
    std::string name;
    P problem;
  } cases[] = {
      {"", P::empty},
      {"..", P::dot_part},
      {".", P::dot_part},
      {"a/../b", P::dot_part},
      {"a/..", P::dot_part},
      {"./a", P::dot_part},
      {"/etc/passwd", P::absolute},
      {"/", P::absolute},
      {"a//b", P::empty_part},
      {"a/", P::empty_part},
      {"C:x", P::forbidden_character},
      {"c:\\x", P::forbidden_character},
      {"a\\b", P::forbidden_character},
      {"..\\x", P::forbidden_character},
      {"file.txt:stream", P::forbidden_character},
      {std::string("a\0b", 3), P::control_character},
      {"a\nb", P::control_character},
      {"tab\there", P::control_character},
      {"del\x7F", P::control_character},
      {"\x1B[31m", P::control_character},
      {"name.", P::trailing_dot_or_space},
      {"name ", P::trailing_dot_or_space},
      {"dir./x", P::trailing_dot_or_space},
      {"...", P::trailing_dot_or_space},
  };
  for (const auto& c : cases) EXPECT_EQ(check(c.name), c.problem) << c.name;
}

TEST(EntryNameCheck, WindowsDeviceNamesInAnyCaseAndWithExtensions) {
  for (const char* name : {"CON",         "con",
                           "Prn",         "aUx",
                           "NUL",         "nul.txt",
                           "con.txt",     "LPT1.log",
                           "lpt9",        "COM1",
                           "com9.tar.gz", "COM0",
                           "LPT0",        "CONIN$",
                           "conout$",     "conin$.x",
                           "nul .txt",    "NUL  ",
                           "dir/aux",     "dir/Com7.c/x",
                           "COM\xC2\xB9", "lpt\xC2\xB3.txt"}) {
    const P problem = check(name);
    EXPECT_TRUE(problem == P::device_name || problem == P::trailing_dot_or_space) << name;
    EXPECT_NE(problem, P::ok) << name;
  }
  EXPECT_EQ(check("LPT1.log"), P::device_name);
  EXPECT_EQ(check("con/x"), P::device_name);
  EXPECT_EQ(check("COM\xC2\xB2"), P::device_name);
  EXPECT_EQ(check("COM\xC2\xB4"), P::ok);  // an acute accent, not a superscript digit
}

TEST(EntryNameCheck, LengthLimitsAtTheirEdges) {
  const std::string part255(255, 'p');
  EXPECT_EQ(check(part255), P::ok);
  EXPECT_EQ(check(part255 + "p"), P::part_too_long);
  EXPECT_EQ(check("dir/" + part255 + "p/x"), P::part_too_long);
  // 1,024 bytes in all is the most.
  const std::string path =
      part255 + "/" + part255 + "/" + part255 + "/" + std::string(254, 'p') + "/q";
  ASSERT_EQ(path.size(), kEntryNameMaxSize);
  EXPECT_EQ(check(path), P::ok);
  EXPECT_EQ(check(path + "q"), P::too_long);
  // A part's limit counts bytes, not characters: 127 two-byte letters fit, 128 do not.
  std::string umlauts;
  for (int i = 0; i < 127; ++i) umlauts += "\xC3\xA4";
  EXPECT_EQ(check(umlauts + "x"), P::ok);
  EXPECT_EQ(check(umlauts + "\xC3\xA4"), P::part_too_long);
}

TEST(EntryNameCheck, InvalidUtf8IsRefused) {
  for (const char* name : {
           "\x80",              // a continuation byte alone
           "a\xC3",             // a sequence cut short
           "\xC3(",             // a lead byte without its continuation
           "\xC0\xAF",          // overlong "/"
           "\xC1\x9C",          // overlong "\"
           "\xE0\x80\xAE",      // overlong "."
           "\xF0\x80\x80\xAF",  // overlong "/" in four bytes
           "\xED\xA0\x80",      // the surrogate U+D800
           "\xED\xBF\xBF",      // the surrogate U+DFFF
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",
           "\xFF",
           "\xFE\xFF",
           "\xE2\x82",
       }) {
    EXPECT_EQ(check(name), P::invalid_utf8) << testing::PrintToString(std::string(name));
  }
  // The edges of the valid ranges.
  for (const char* name : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                           "\xEF\xBF\xBD", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_EQ(check(name), P::ok) << testing::PrintToString(std::string(name));
  }
}

// The cases of the rule itself are in platform/name_case_test.cpp.
TEST(EntryNamesEqualIgnoringCase, FollowsTheNameCaseRule) {
  EXPECT_TRUE(
      same("\xC3\x9C"
           "bersicht.txt",
           "\xC3\xBC"
           "bersicht.TXT"));                          // Übersicht, übersicht
  EXPECT_TRUE(same("\xCE\xA9.txt", "\xCF\x89.txt"));  // Ω, ω
  EXPECT_FALSE(same("\xC3\x9F", "ss"));               // ß, ss
}

}  // namespace
