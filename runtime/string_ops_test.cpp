#include "runtime/string_ops.h"

#include <cstring>
#include <string>

#include "testing/runtime_fixture.h"

using StringOpsTest = RuntimeTest;

TEST_F(StringOpsTest, HeadAndLowerAsTheOverwriteAnswerUsesThem) {
  char* mark = put("J\x24");
  string_head(mark, 1, mark);
  string_to_lower(mark, mark);
  EXPECT_STREQ(mark, "j");
  EXPECT_EQ(cursor(), mark + 1);
  EXPECT_STREQ(string_head("abc", 5, ws()), "abc");
  EXPECT_STREQ(string_head("abc", 0, ws()), "");
  EXPECT_STREQ(string_head("abc", -3, ws()), "");
  EXPECT_STREQ(string_head(nullptr, 2, ws()), "");
  EXPECT_EQ(cursor(), ws());
}

TEST_F(StringOpsTest, SliceAndTail) {
  EXPECT_STREQ(string_slice("abcdef", 3, 2, ws()), "cd");
  EXPECT_STREQ(string_slice("abcdef", 0, 2, ws()), "ab");
  EXPECT_STREQ(string_slice("abcdef", -5, 2, ws()), "ab");
  EXPECT_STREQ(string_slice("abcdef", 7, 2, ws()), "");
  EXPECT_STREQ(string_slice("abcdef", 9, 2, ws()), "");
  EXPECT_STREQ(string_slice("abcdef", 5, 10, ws()), "ef");
  EXPECT_STREQ(string_tail("abcdef", 2, ws()), "ef");
  EXPECT_STREQ(string_tail("abcdef", 10, ws()), "abcdef");
  EXPECT_EQ(cursor(), ws() + 6);
  EXPECT_STREQ(string_tail("abcdef", -1, ws()), "");
  EXPECT_EQ(cursor(), ws());
}

TEST_F(StringOpsTest, TailOfNullWritesAtTheCursorAndReturnsDest) {
  char* mark = put("xyz");
  char* dest = ws() + 100;
  dest[0] = 'q';
  EXPECT_EQ(string_tail(nullptr, 2, dest), dest);
  EXPECT_EQ(*cursor(), 0);
  EXPECT_EQ(cursor(), mark + 3);
  EXPECT_EQ(dest[0], 'q');
}

TEST_F(StringOpsTest, Find) {
  EXPECT_EQ(string_find("abcabc", "b", 1), 2);
  EXPECT_EQ(string_find("abcabc", "b", 3), 5);
  EXPECT_EQ(string_find("abcabc", "b", 6), 0);
  EXPECT_EQ(string_find("abcabc", "", 3), 3);
  EXPECT_EQ(string_find("abcabc", "", -4), 1);
  EXPECT_EQ(string_find("abcabc", "", 7), 7);
  EXPECT_EQ(string_find("abcabc", "", 8), 0);
  EXPECT_EQ(string_find("abcabc", "x", 1), 0);
  EXPECT_EQ(string_find("", "", 1), 1);
  EXPECT_EQ(string_find("abcabc", "cab", 1), 3);
  EXPECT_EQ(string_find("abcab", "abc", 2), 0);
  EXPECT_EQ(string_find(nullptr, "a", 1), 0);
  EXPECT_EQ(string_find("a", nullptr, 1), 0);
}

TEST_F(StringOpsTest, Strip) {
  const char* text = "  a b  ";
  EXPECT_STREQ(string_strip(text, ws()), "a b");
  EXPECT_STREQ(string_strip_leading(text, ws()), "a b  ");
  EXPECT_STREQ(string_strip_trailing(text, ws()), "  a b");
  EXPECT_STREQ(string_strip("    ", ws()), "");
  EXPECT_STREQ(string_strip_trailing("   ", ws()), "");
  EXPECT_STREQ(string_strip(nullptr, ws()), "");
  // Tabs are not blanks.
  EXPECT_STREQ(string_strip("\t x \t", ws()), "\t x \t");
  // In place at the mark.
  char* mark = put("   in place   ");
  EXPECT_STREQ(string_strip(mark, mark), "in place");
  EXPECT_EQ(cursor(), mark + 8);
}

TEST_F(StringOpsTest, StripLeadingStopsAtTheCursorOfTheCall) {
  // A source that ends at the cursor, result built right behind it.
  char* mark = put("  ab");
  char* dest = cursor();
  EXPECT_STREQ(string_strip_leading(mark, dest), "ab");
  EXPECT_EQ(cursor(), dest + 2);
  // Source beyond the cursor is not read past it.
  std::strcpy(ws(), "  abcdef");
  runtime_memory.string_cursor = ws() + 4;
  char* out = ws() + 200;
  EXPECT_STREQ(string_strip_leading(ws(), out), "ab");
}

TEST_F(StringOpsTest, CaseChangesCoverTheUpperByteRanges) {
  EXPECT_STREQ(string_to_upper("aZ\xff\xf7\xe0", ws()), "AZ\xdf\xd7\xc0");
  EXPECT_STREQ(string_to_lower("Az\xdf\xd7\xc0\xbf", ws()), "az\xff\xf7\xe0\xbf");
  EXPECT_STREQ(string_to_lower(nullptr, ws()), "");
}

TEST_F(StringOpsTest, NumbersToText) {
  EXPECT_STREQ(decimal_string_of(-1, ws()), "-1");
  EXPECT_EQ(cursor(), ws() + 2);
  EXPECT_STREQ(decimal_string_of(INT32_MIN, ws()), "-2147483648");
  EXPECT_STREQ(hex_string_of(0xFFFFFFFFu, ws()), "FFFFFFFF");
  EXPECT_STREQ(hex_string_of(255, ws()), "FF");
  EXPECT_STREQ(hex_string_of(0, ws()), "0");
  EXPECT_STREQ(unsigned_string_of(0xFFFFFFFFu, 0, ws()), "255");
  EXPECT_STREQ(unsigned_string_of(0xFFFFFFFFu, 1, ws()), "65535");
  EXPECT_STREQ(unsigned_string_of(0xFFFFFFFFu, 2, ws()), "4294967295");
  EXPECT_EQ(cursor(), ws() + 10);
}

TEST_F(StringOpsTest, CharCodes) {
  EXPECT_EQ(char_code_of(""), 0);
  EXPECT_EQ(char_code_of(nullptr), 0);
  EXPECT_EQ(char_code_of("\xe4x"), 0xe4);
  EXPECT_STREQ(string_of_char_code(321, ws()), "A");
  EXPECT_EQ(cursor(), ws() + 1);
  ws()[1] = 'x';
  EXPECT_STREQ(string_of_char_code(512, ws()), "");
  EXPECT_EQ(cursor(), ws() + 1);
  EXPECT_EQ(ws()[1], 0);
}

TEST_F(StringOpsTest, ParseDecimal) {
  EXPECT_EQ(parse_decimal("  -42xyz"), -42);
  EXPECT_EQ(string_ops_state.negative_flag, 1);
  EXPECT_EQ(parse_decimal("+7"), 7);
  EXPECT_EQ(parse_decimal("- 5"), 0);
  EXPECT_EQ(parse_decimal("4294967297"), 1);
  EXPECT_EQ(parse_decimal("2147483648"), INT32_MIN);
  EXPECT_EQ(parse_decimal(""), 0);
  EXPECT_EQ(parse_decimal(nullptr), 0);
  EXPECT_EQ(parse_decimal("--3"), 0);
  EXPECT_EQ(parse_decimal("12\xb3"), 12);
}

TEST_F(StringOpsTest, SpacesAndNegativeCount) {
  EXPECT_STREQ(string_of_spaces(3, ws()), "   ");
  EXPECT_STREQ(string_of_spaces(0, ws()), "");
  EXPECT_STREQ(string_of_spaces(-5, ws()), "");
  EXPECT_EQ(cursor(), ws());
}

TEST_F(StringOpsTest, ResultsAreCutAtTheWorkspaceEnd) {
  char* near_end = ws() + kStringWorkspaceSize - 4;
  char* last = ws() + kStringWorkspaceSize - 1;
  EXPECT_STREQ(string_of_spaces(1000, near_end), "   ");
  EXPECT_EQ(cursor(), last);
  EXPECT_STREQ(string_head("abcdefgh", 8, near_end), "abc");
  EXPECT_STREQ(decimal_string_of(-123456, near_end), "-12");
  EXPECT_STREQ(string_to_upper("abcdef", near_end), "ABC");
  EXPECT_STREQ(string_strip_leading("  abcdef", near_end), "abc");
  string_of_char_code('x', last);
  EXPECT_EQ(*last, 0);
  std::string long_text(kStringWorkspaceSize * 2, 'q');
  string_slice(long_text.c_str(), 1, INT32_MAX, ws());
  EXPECT_EQ(std::strlen(ws()), kStringWorkspaceSize - 1u);
  // A destination outside the workspace receives nothing.
  char outside[4] = {'k', 'k', 'k', 0};
  string_head("ab", 2, outside);
  EXPECT_STREQ(outside, "kkk");
}
