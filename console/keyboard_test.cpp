#include "console/keyboard.h"

#include <string>

#include "testing/console_fixture.h"

namespace {

constexpr uint16_t kScanJ = 0x24;
constexpr uint16_t kScanF1 = 0x3B;
constexpr uint16_t kScanEnter = 0x1C;
constexpr uint16_t kScanBackspace = 0x0E;

void type(MemoryConsole* screen, const std::string& keys) {
  for (char c : keys) {
    uint16_t scan = c == '\r' ? kScanEnter : c == '\b' ? kScanBackspace : 0x1E;
    memory_console_push_key(screen, c, scan);
    memory_console_push_key(screen, c, scan, false);  // and its release
  }
}

}  // namespace

using KeyboardTest = ConsoleTest;

TEST_F(KeyboardTest, PollWithAnEmptyQueueGivesTheEmptyStringAndKeepsTheCursor) {
  char* mark = string_mark();
  mark[0] = 'x';
  char* result = console_poll_key();
  EXPECT_EQ(result, mark);
  EXPECT_STREQ(result, "");
  EXPECT_EQ(string_mark(), mark);
}

TEST_F(KeyboardTest, PollConsumesOneRecordOfAnyKind) {
  memory_console_push_key(&screen, 'j', kScanJ, false);
  memory_console_push_event(&screen, kMouseEvent);
  memory_console_push_event(&screen, kFocusEvent);
  memory_console_push_event(&screen, kWindowBufferSizeEvent);
  memory_console_push_key(&screen, 'j', kScanJ);
  char* mark = string_mark();
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(console_poll_key(), "") << i;
    EXPECT_EQ(string_mark(), mark);
  }
  char* result = console_poll_key();
  EXPECT_EQ(result, mark);
  EXPECT_EQ(result[0], 'j');
  EXPECT_EQ(static_cast<uint8_t>(result[1]), kScanJ);
  EXPECT_EQ(result[2], 0);
  EXPECT_EQ(string_mark(), mark + 2);
  EXPECT_TRUE(screen.input.empty());
}

TEST_F(KeyboardTest, KeysWithoutCharacterOrScanCode) {
  memory_console_push_key(&screen, 0, kScanF1);
  memory_console_push_key(&screen, 'q', 0);
  char* mark = string_mark();
  char* f1 = console_poll_key();
  EXPECT_EQ(static_cast<uint8_t>(f1[0]), kNoCharacter);
  EXPECT_EQ(static_cast<uint8_t>(f1[1]), kScanF1);
  string_rewind(mark);
  char* q = console_poll_key();
  EXPECT_STREQ(q, "q");  // a one-character string
  EXPECT_EQ(string_mark(), mark + 2);
}

TEST_F(KeyboardTest, ReadKeyEventPacksCharacterAndScanCode) {
  memory_console_push_key(&screen, 'j', kScanJ);
  memory_console_push_key(&screen, 'j', kScanJ, false);
  EXPECT_EQ(console_read_key_event(), 'j' + 256u * kScanJ);
  EXPECT_EQ(console_read_key_event(), 0u);
}

TEST_F(KeyboardTest, LineInputEditsAndEchoes) {
  place(0, 5);
  type(&screen, "ab\bd\r");
  char* start = string_mark();
  char* line = console_input_line();
  EXPECT_EQ(line, start);
  EXPECT_STREQ(line, "ad");
  EXPECT_EQ(string_mark(), start + 2);
  EXPECT_EQ(row(5), "ad");
  EXPECT_EQ(cursor().x, 2);
  EXPECT_EQ(screen.info.cursor_position.x, 2);
}

TEST_F(KeyboardTest, LineInputIgnoresControlKeysAndAcceptsHighBytes) {
  place(0, 1);
  type(&screen, "\b\t\x1b\xe4\xff!\r");
  memory_console_push_key(&screen, 0, kScanF1);
  char* line = console_input_line();
  EXPECT_STREQ(line, "\xe4\xff!");
  EXPECT_EQ(row(1), "\xe4\xff!");
}

TEST_F(KeyboardTest, LineInputNeverWrapsAndBackspaceErasesTheLastColumn) {
  place(75, 2);
  type(&screen, "1234567\b8\r");
  char* line = console_input_line();
  EXPECT_STREQ(line, "12348");
  EXPECT_EQ(row(2), std::string(75, ' ') + "12348");
  EXPECT_EQ(cursor().x, 80);
  EXPECT_EQ(cursor().y, 2);
  EXPECT_EQ(row(3), "");
}

TEST_F(KeyboardTest, LineInputStaysInsideTheWorkspace) {
  open(400, 25, 400, 25);
  char* near_end = runtime_memory.workspace + kStringWorkspaceSize - 4;
  string_rewind(near_end);
  type(&screen, "abcdefgh\r");
  char* line = console_input_line();
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(string_mark(), near_end + 3);
}
