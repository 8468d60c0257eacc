// The rule that splits an installer's command into its program and arguments.
#include "pack/run_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Split {
  RunCommandStatus status;
  std::vector<std::string> words;
};

Split split(const std::string& command) {
  static RunCommandWords out;
  const RunCommandStatus status = run_command_split(command.data(), command.size(), &out);
  Split result{status, {}};
  for (size_t i = 0; i < out.count && status == RunCommandStatus::ok; ++i)
    result.words.push_back(out.words[i]);
  return result;
}

}  // namespace

TEST(RunCommandTest, WordsQuotesAndEscapesSplitAsTheRuleSays) {
  struct Case {
    std::string command;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"setup.sh", {"setup.sh"}},
      {"  setup.sh\t--mode  full ", {"setup.sh", "--mode", "full"}},
      {"bin/install 'two words' \"and \\\"more\\\"\"",
       {"bin/install", "two words", "and \"more\""}},
      {"a 'it''s' \"x\\\\y\" \"c:\\dir\"", {"a", "its", "x\\y", "c:\\dir"}},
      {"a b\\ c \\'d\\'", {"a", "b c", "'d'"}},
      {"a '' \"\" x", {"a", "", "", "x"}},
      {"a'b c'\"d\"", {"ab cd"}},
      {"start Grüße '日本 語'", {"start", "Grüße", "日本 語"}},
      {"a '$HOME' \"`x`\" ;", {"a", "$HOME", "`x`", ";"}},
  };
  for (const Case& c : cases) {
    const Split got = split(c.command);
    EXPECT_EQ(got.status, RunCommandStatus::ok) << c.command;
    EXPECT_EQ(got.words, c.words) << c.command;
  }
}

TEST(RunCommandTest, CommandsThatCannotBeSplitAreRefusedWithTheirReason) {
  const std::pair<std::string, RunCommandStatus> cases[] = {
      {"", RunCommandStatus::empty},
      {" \t ", RunCommandStatus::empty},
      {"'' arg", RunCommandStatus::empty},
      {"a 'b", RunCommandStatus::open_quote},
      {"a \"b\\\"", RunCommandStatus::open_quote},
      {"a b\\", RunCommandStatus::trailing_backslash},
      {"a\nb", RunCommandStatus::control_character},
      {std::string("a\0b", 3), RunCommandStatus::control_character},
      {"a\x7f", RunCommandStatus::control_character},
      {std::string(kRunCommandMaxSize + 1, 'a'), RunCommandStatus::too_long},
  };
  for (const auto& [command, status] : cases) EXPECT_EQ(split(command).status, status) << command;

  std::string many = "a";
  for (size_t i = 1; i < kRunCommandMaxWords; ++i) many += " w";
  EXPECT_EQ(split(many).words.size(), kRunCommandMaxWords);
  EXPECT_EQ(split(many + " w").status, RunCommandStatus::too_many_words);
  // The longest command, one word: the words' text holds it whole.
  EXPECT_EQ(split(std::string(kRunCommandMaxSize, 'x')).words.at(0).size(), kRunCommandMaxSize);
}
