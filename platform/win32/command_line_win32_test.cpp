// Splitting the command line by the usual rules of Windows programs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/win32/command_line.h"

namespace {

std::vector<std::wstring> split(const std::wstring& line) {
  std::vector<wchar_t> out(line.size() + 1, L'#');
  const int count = command_line_split(line.c_str(), out.data());
  std::vector<std::wstring> arguments;
  const wchar_t* p = out.data();
  for (int i = 0; i < count; ++i) {
    arguments.emplace_back(p);
    p += arguments.back().size() + 1;
  }
  EXPECT_LE(static_cast<size_t>(p - out.data()), out.size());
  return arguments;
}

using Arguments = std::vector<std::wstring>;

TEST(CommandLineTest, BlanksSeparateAndTheProgramNameIsLeftOut) {
  EXPECT_EQ(split(L""), Arguments{});
  EXPECT_EQ(split(L"stub.exe"), Arguments{});
  EXPECT_EQ(split(L"stub.exe  "), Arguments{});
  EXPECT_EQ(split(L"stub.exe -y\t -o  out "), (Arguments{L"-y", L"-o", L"out"}));
  EXPECT_EQ(split(L" -y"), Arguments{L"-y"});  // an empty program name
  EXPECT_EQ(split(L"stub.exe Grüße/€.txt 日本"), (Arguments{L"Grüße/€.txt", L"日本"}));
}

TEST(CommandLineTest, AQuotedProgramNameEndsAtTheNextQuote) {
  EXPECT_EQ(split(L"\"C:\\Program Files\\stub.exe\" -l"), Arguments{L"-l"});
  EXPECT_EQ(split(L"\"C:\\dir\\\" -l"), Arguments{L"-l"});  // no escapes in the name
  EXPECT_EQ(split(L"\"stub.exe\"-l x"), (Arguments{L"-l", L"x"}));
  EXPECT_EQ(split(L"\"stub.exe -l"), Arguments{});
}

TEST(CommandLineTest, QuotesKeepBlanksAndDoubledQuotesInsideAreOne) {
  EXPECT_EQ(split(L"p -o \"out dir\"\tx"), (Arguments{L"-o", L"out dir", L"x"}));
  EXPECT_EQ(split(L"p a\"b c\"d"), Arguments{L"ab cd"});
  EXPECT_EQ(split(L"p \"\" x"), (Arguments{L"", L"x"}));
  EXPECT_EQ(split(L"p \"a\"\"b\""), Arguments{L"a\"b"});
  EXPECT_EQ(split(L"p a\"\"b"), Arguments{L"ab"});
  EXPECT_EQ(split(L"p \"open to the end"), Arguments{L"open to the end"});
}

TEST(CommandLineTest, BackslashesEscapeOnlyBeforeAQuote) {
  EXPECT_EQ(split(L"p C:\\a\\\\b\\"), Arguments{L"C:\\a\\\\b\\"});
  EXPECT_EQ(split(L"p a\\\"b"), Arguments{L"a\"b"});
  EXPECT_EQ(split(L"p a\\\\\"b c\""), Arguments{L"a\\b c"});
  EXPECT_EQ(split(L"p a\\\\\\\"b"), Arguments{L"a\\\"b"});
  EXPECT_EQ(split(L"p \"C:\\out dir\\\\\" x"), (Arguments{L"C:\\out dir\\", L"x"}));
}

TEST(CommandLineTest, TheProcessArgumentsEndWithNull) {
  const int count = platform_argument_count();
  ASSERT_GE(count, 0);
  for (int i = 0; i < count; ++i) EXPECT_NE(platform_argument(i), nullptr);
  EXPECT_EQ(platform_argument(count), nullptr);
  EXPECT_EQ(platform_argument(-1), nullptr);
}

}  // namespace
