// The program's options as the arguments set them.
#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/front_end.h"

namespace {

ProgramOptions parse(const std::vector<const char*>& arguments) {
  return options_parse(static_cast<int>(arguments.size()), arguments.data());
}

}  // namespace

TEST(OptionsTest, NoArgumentsExtractAskAndWait) {
  const ProgramOptions options = parse({});
  EXPECT_EQ(options.mode, ProgramMode::extract);
  EXPECT_EQ(options.overwrite, OverwritePolicy::ask);
  EXPECT_TRUE(options.wait);
  EXPECT_EQ(options.output, nullptr);
}

TEST(OptionsTest, ShortAndLongFormsSetTheSameThings) {
  for (const auto& forms : std::vector<std::vector<const char*>>{{"-y", "-o", "aus", "--no-wait"},
                                                                 {"--yes", "--output", "aus"},
                                                                 {"-oaus", "--yes"},
                                                                 {"--output=aus", "-y"}}) {
    const ProgramOptions options = parse(forms);
    EXPECT_EQ(options.mode, ProgramMode::extract) << forms[0];
    EXPECT_EQ(options.overwrite, OverwritePolicy::all) << forms[0];
    EXPECT_FALSE(options.wait) << forms[0];
    ASSERT_NE(options.output, nullptr);
    EXPECT_STREQ(options.output, "aus");
  }
  EXPECT_EQ(parse({"-n"}).overwrite, OverwritePolicy::never);
  EXPECT_TRUE(parse({"--no-overwrite"}).wait);
  EXPECT_FALSE(parse({"--no-wait"}).wait);
  EXPECT_EQ(parse({"-l"}).mode, ProgramMode::list);
  EXPECT_EQ(parse({"--list"}).mode, ProgramMode::list);
  EXPECT_EQ(parse({"-t"}).mode, ProgramMode::test);
  EXPECT_EQ(parse({"--test", "-o", "x"}).mode, ProgramMode::test);
  EXPECT_EQ(parse({"-h"}).mode, ProgramMode::help);
  EXPECT_EQ(parse({"--help"}).mode, ProgramMode::help);
  EXPECT_EQ(parse({"-V"}).mode, ProgramMode::version);
  EXPECT_EQ(parse({"--version"}).mode, ProgramMode::version);
#if defined(_WIN32)
  EXPECT_EQ(parse({"/?"}).mode, ProgramMode::help);
#else
  EXPECT_EQ(parse({"/?"}).mode, ProgramMode::usage_error);
#endif
}

TEST(OptionsTest, WrongArgumentsAreUsageErrorsNamingTheFirstProblem) {
  struct Case {
    std::vector<const char*> arguments;
    const char* argument;
  };
  const Case cases[] = {
      {{"--unbekannt"}, "--unbekannt"},
      {{"-x"}, "-x"},
      {{"datei.txt"}, "datei.txt"},
      {{"-yn"}, "-yn"},
      {{""}, ""},
      {{"-o"}, "-o"},
      {{"--output"}, "--output"},
      {{"--output="}, "--output="},
      {{"-y", "-n"}, "-n"},
      {{"--list", "--test"}, "--test"},
      {{"-l", "-h"}, "-h"},
      {{"-o", "a", "-o", "b"}, "-o"},
      {{"--bad", "--worse"}, "--bad"},
      {{"--bad", "--list"}, "--bad"},
      {{"-x", "-t", "-o", "a"}, "-x"},
      {{"-YES"}, "-YES"},
  };
  for (const Case& c : cases) {
    const ProgramOptions options = parse(c.arguments);
    EXPECT_EQ(options.mode, ProgramMode::usage_error) << c.argument;
    ASSERT_NE(options.argument, nullptr);
    EXPECT_STREQ(options.argument, c.argument);
  }
}

TEST(OptionsTest, AValueThatLooksLikeAnOptionIsTakenAsTheFolder) {
  const ProgramOptions options = parse({"-o", "-y"});
  EXPECT_EQ(options.mode, ProgramMode::extract);
  EXPECT_EQ(options.overwrite, OverwritePolicy::ask);
  EXPECT_STREQ(options.output, "-y");
}

TEST(OptionsTest, PeersSpellingsAndRepeatsWithTheSameMeaningAreTaken) {
  for (const auto& forms : std::vector<std::vector<const char*>>{{"--target", "aus", "-y", "-y"},
                                                                 {"--target=aus", "--yes", "-y"},
                                                                 {"-d", "aus", "-o", "aus", "-y"},
                                                                 {"-daus", "--output=aus", "-y"}}) {
    const ProgramOptions options = parse(forms);
    EXPECT_EQ(options.mode, ProgramMode::extract) << forms[0];
    EXPECT_EQ(options.overwrite, OverwritePolicy::all) << forms[0];
    ASSERT_NE(options.output, nullptr);
    EXPECT_STREQ(options.output, "aus");
  }
  EXPECT_EQ(parse({"--check", "-t"}).mode, ProgramMode::test);
  EXPECT_TRUE(parse({"-q", "--quiet"}).quiet);
  EXPECT_FALSE(parse({}).quiet);
  EXPECT_FALSE(parse({"--no-space-check"}).space_check);
  EXPECT_TRUE(parse({}).space_check);
  EXPECT_EQ(parse({"-o", "a", "--target", "b"}).problem, Text::given_twice);
  EXPECT_EQ(parse({"-y", "-n"}).problem, Text::conflict);
  EXPECT_EQ(parse({"--check", "-l"}).problem, Text::conflict);
#if defined(_WIN32)
  const ProgramOptions silent = parse({"/S"});
  EXPECT_EQ(silent.overwrite, OverwritePolicy::all);
  EXPECT_FALSE(silent.wait);
#else
  EXPECT_EQ(parse({"/S"}).mode, ProgramMode::usage_error);
#endif
}

// An installer's options: the self-extractor takes them, the built-in program, which runs no
// command, refuses each as unknown. One table for both programs' sets.
TEST(OptionsTest, InstallerOptionsAreTheSelfExtractorsAlone) {
  const bool taken = front_end_self_extractor();
  struct Case {
    std::vector<const char*> arguments;
    ProgramMode mode;  ///< for the self-extractor
  };
  const Case cases[] = {
      {{"--info"}, ProgramMode::info},
      {{"--no-run", "-o", "x"}, ProgramMode::extract},
      {{"--keep", "--accept"}, ProgramMode::extract},
      {{"-y", "--", "-n", "--frob", ""}, ProgramMode::extract},
      {{"--info", "--list"}, ProgramMode::usage_error},
      {{"--list", "--info"}, ProgramMode::usage_error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    const ProgramOptions options = parse(c.arguments);
    EXPECT_EQ(options.mode, taken ? c.mode : ProgramMode::usage_error);
  }
  if (!taken) return;
  EXPECT_FALSE(parse({"--no-run"}).run);
  EXPECT_TRUE(parse({"-y"}).run);
  EXPECT_TRUE(parse({"--keep"}).keep);
  EXPECT_TRUE(parse({"--accept"}).accept);
  EXPECT_EQ(parse({"--accept"}).overwrite, OverwritePolicy::ask);
  // Everything after -- is the command's, options too; -y before it stays the run's.
  const std::vector<const char*> arguments = {"-y", "--", "-n", "--frob", ""};
  const ProgramOptions passed = parse(arguments);
  EXPECT_EQ(passed.overwrite, OverwritePolicy::all);
  ASSERT_EQ(passed.passed_count, 3);
  EXPECT_EQ(passed.passed, arguments.data() + 2);
  EXPECT_EQ(parse({"--"}).passed_count, 0);
  EXPECT_STREQ(parse({"--info", "--list"}).argument, "--list");
}
