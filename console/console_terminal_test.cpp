// The console in a real terminal (tmux, 80 x 25) and with redirected standard streams.
// Each terminal screen is compared with what the memory console shows for the same calls.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/demo/console_scenarios.h"
#include "platform/posix/terminal_codec.h"
#include "testing/console_fixture.h"
#include "testing/tmux_helpers.h"

namespace {

class TerminalTest : public ConsoleTest {
 protected:
  /// The memory console's screen as a terminal shows it.
  std::vector<std::string> memory_screen() const {
    std::vector<std::string> rows;
    for (int y = 0; y < kRows; ++y) {
      std::string row;
      for (int x = 0; x < kColumns; ++x)
        row += terminal_glyph(static_cast<uint8_t>(memory_console_cell(&screen, x, y).character));
      rows.push_back(trim_right(row));
    }
    return rows;
  }
  std::string memory_cursor() const {
    return std::to_string(screen.info.cursor_position.x) + " " +
           std::to_string(screen.info.cursor_position.y) + "\n";
  }

  /// Runs `scenario` in tmux (typing `keys` once `prompt` shows) and on the memory
  /// console, and compares the screens and the cursors.
  void compare(const char* scenario, const std::string& prompt, const std::string& keys,
               const std::string& last_text) {
    ASSERT_EQ(std::system("command -v tmux >/dev/null"), 0) << "tmux is needed";
    run_console_scenario(scenario);
    Tmux tmux;
    ASSERT_TRUE(tmux.start(std::string(CONSOLE_DEMO_PATH) + " " + scenario));
    if (!keys.empty()) {
      tmux.wait_for(prompt);
      tmux.keys(keys);
    }
    std::vector<std::string> terminal = tmux.wait_for(last_text);
    std::vector<std::string> memory = memory_screen();
    for (int y = 0; y < kRows; ++y) EXPECT_EQ(terminal[y], memory[y]) << "row " << y;
    EXPECT_EQ(tmux.cursor(), memory_cursor());
    tmux.keys("q");
  }
};

}  // namespace

TEST_F(TerminalTest, LongTextsWrapAndScrollAsOnTheMemoryConsole) {
  compare("wrap", "", "", "no line break at the end");
}

TEST_F(TerminalTest, ClearedScreenWithLocatedTextsAsOnTheMemoryConsole) {
  compare("screen", "", "", "red text, cursor after it");
}

TEST_F(TerminalTest, KeysReadThroughThePollAsOnTheMemoryConsole) {
  memory_console_push_key(&screen, 'j', 0x24);
  memory_console_push_key(&screen, 0, 0x3B);
  memory_console_push_key(&screen, '\r', 0x1C);
  compare("keys", "press three keys", "j F1 Enter", "done");
  EXPECT_EQ(row(1), "key 106 scan 36");
  EXPECT_EQ(row(2), "key 255 scan 59");
  EXPECT_EQ(row(3), "key 13 scan 28");
}

TEST_F(TerminalTest, WithInputRedirectedTheScreenStillStartsAtTheTerminalsCursor) {
  Tmux tmux;
  ASSERT_TRUE(tmux.start("printf \"one\\ntwo\\n\"; " + std::string(CONSOLE_DEMO_PATH) +
                         " keys < /dev/null; sleep 30"));
  std::vector<std::string> rows = tmux.wait_for("done");
  EXPECT_EQ(rows[0], "one");
  EXPECT_EQ(rows[1], "two");
  EXPECT_EQ(rows[2], "press three keys");
  EXPECT_EQ(rows[3], "done");
}

TEST_F(TerminalTest, CtrlCEndsTheProgramAndRestoresTheTerminal) {
  const std::string modes = ::testing::TempDir() + "modes-" + std::to_string(::getpid());
  std::remove(modes.c_str());
  Tmux tmux;
  ASSERT_TRUE(tmux.start("sh -c \"trap : INT; " + std::string(CONSOLE_DEMO_PATH) +
                         " keys; stty -a > " + modes + "; sleep 30\""));
  tmux.wait_for("press three keys");
  tmux.keys("C-c");
  std::string text;
  for (int i = 0; i < 100 && text.find("icanon") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    text = read_file(modes);
  }
  EXPECT_NE(text.find(" icanon"), std::string::npos) << text;
  EXPECT_NE(text.find(" echo "), std::string::npos) << text;
  EXPECT_EQ(text.find("-icanon"), std::string::npos);
}

TEST(RedirectedStreams, InputBytesAreKeysAndOutputIsPlainLines) {
  const std::string out = ::testing::TempDir() + "keys.out";
  ASSERT_EQ(std::system(
                ("printf 'jx\\r' | timeout 10 " + std::string(CONSOLE_DEMO_PATH) + " keys > " + out)
                    .c_str()),
            0);
  EXPECT_EQ(read_file(out),
            "press three keys\nkey 106 scan 36\nkey 120 scan 45\nkey 13 scan 28\ndone");
}

TEST(RedirectedStreams, TheEndOfTheInputEndsEveryWait) {
  const std::string out = ::testing::TempDir() + "wrap.out";
  ASSERT_EQ(
      std::system(
          ("timeout 10 " + std::string(CONSOLE_DEMO_PATH) + " keys < /dev/null > " + out).c_str()),
      0);
  EXPECT_EQ(read_file(out), "press three keys\ndone");
  ASSERT_EQ(
      std::system(
          ("timeout 10 " + std::string(CONSOLE_DEMO_PATH) + " wrap < /dev/null > " + out).c_str()),
      0);
  const std::string text = read_file(out);
  EXPECT_EQ(text.rfind("1: \xe4nderung Ueberschreiben", 0), 0u);
  std::istringstream lines(text);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 31u);
  EXPECT_EQ(rows[3].size(), 250u);  // a long line is cut like on the screen
  EXPECT_EQ(rows[30], "no line break at the end");
}

#endif
