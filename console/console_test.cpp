#include "console/console.h"

#include <string>

#include "testing/console_fixture.h"

namespace {

/// Fills each row y of the screen with the letter 'a' + y % 26, to see where rows went.
void letter_rows(MemoryConsole* screen) {
  for (int y = 0; y < screen->info.size.y; ++y)
    for (int x = 0; x < screen->info.size.x; ++x)
      screen->cells[static_cast<size_t>(y) * screen->info.size.x + x].character =
          static_cast<uint16_t>('a' + y % 26);
}

std::string digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + i % 10));
  return s;
}

}  // namespace

struct PrintCase {
  int x, y, length, scrolls, first_row, after_x, after_y;
};

TEST_F(ConsoleTest, PrintFollowsTheWorkedCases) {
  const PrintCase cases[] = {
      {0, 24, 79, 0, 24, 79, 24},
      {0, 24, 80, 1, 23, 0, 24},
      {0, 23, 80, 0, 23, 0, 24},
      {70, 24, 30, 1, 23, 20, 24},
      {0, 10, 300, 0, 10, 10, 13},
      // Texts that end exactly at the end of a row above the last one fit: no scroll.
      {10, 20, 70, 0, 20, 0, 21},
      {0, 22, 160, 0, 22, 0, 24},
      {40, 22, 120, 0, 22, 0, 24},
  };
  for (const PrintCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "at " << c.x << "," << c.y << " length " << c.length);
    open(80, 25, 80, 25);
    letter_rows(&screen);
    place(c.x, c.y);
    const std::string text = digits(static_cast<size_t>(c.length));
    console_print(text.c_str());
    // Row 0 shows which letter row now stands at the top: one per scroll.
    EXPECT_EQ(cell(0, 0), 'a' + c.scrolls);
    const int written = c.length > 250 ? 250 : c.length;
    for (int i = 0; i < written; ++i) {
      const int p = c.first_row * 80 + c.x + i;
      ASSERT_EQ(cell(p % 80, p / 80), text[static_cast<size_t>(i)]) << "character " << i;
    }
    const int after = c.first_row * 80 + c.x + written;
    if (after < 80 * 25) {
      const char next = cell(after % 80, after / 80);
      EXPECT_TRUE(next == ' ' || next >= 'a') << next;  // not part of the text
    }
    EXPECT_EQ(cursor().x, c.after_x);
    EXPECT_EQ(cursor().y, c.after_y);
    EXPECT_EQ(screen.info.cursor_position.x, c.after_x);  // the visible cursor follows
    EXPECT_EQ(screen.info.cursor_position.y, c.after_y);
  }
}

TEST_F(ConsoleTest, ScrollsAtTheBottomRightCellAndThreeTimesForALongText) {
  letter_rows(&screen);
  place(79, 24);
  console_print("x");
  EXPECT_EQ(cell(79, 23), 'x');
  EXPECT_EQ(cell(0, 0), 'b');
  EXPECT_EQ(cursor().x, 0);
  EXPECT_EQ(cursor().y, 24);

  open(80, 25, 80, 25);
  letter_rows(&screen);
  place(0, 24);
  console_print(std::string(250, 'q').c_str());
  EXPECT_EQ(cell(0, 0), 'd');  // three scrolls
  EXPECT_EQ(row(21), std::string(80, 'q'));
  EXPECT_EQ(row(24).substr(0, 10), std::string(10, 'q'));
  EXPECT_EQ(cell(10, 24), ' ');
  EXPECT_EQ(cursor().x, 10);
  EXPECT_EQ(cursor().y, 24);
}

TEST_F(ConsoleTest, NullAndEmptyTextsPrintNothingButStillEndTheLine) {
  place(5, 3);
  console_print(nullptr);
  console_print("");
  EXPECT_EQ(cursor().x, 5);
  EXPECT_EQ(cursor().y, 3);
  console_print_line(nullptr);
  EXPECT_EQ(cursor().x, 0);
  EXPECT_EQ(cursor().y, 4);
  console_print_line("");
  EXPECT_EQ(cursor().y, 5);
}

TEST_F(ConsoleTest, NewlineMovesDownOrScrollsOnTheBottomRow) {
  letter_rows(&screen);
  place(7, 10);
  console_newline();
  EXPECT_EQ(cursor().x, 0);
  EXPECT_EQ(cursor().y, 11);
  EXPECT_EQ(cell(0, 0), 'a');
  place(7, 24);
  console_newline();
  EXPECT_EQ(cursor().y, 24);
  EXPECT_EQ(cell(0, 0), 'b');
  EXPECT_EQ(row(24), "");
}

TEST_F(ConsoleTest, ControlCharactersArePaintedNotInterpreted) {
  console_print("a\r\n\tb\x08");
  EXPECT_EQ(row(0), std::string("a\r\n\tb\x08"));
  EXPECT_EQ(cursor().x, 6);
  EXPECT_EQ(cursor().y, 0);
}

TEST_F(ConsoleTest, TheFreedRowTakesTheColourSetAtTheScroll) {
  console_state.attribute = 0x1F;
  console_print_line("white on blue");
  console_state.attribute = 0x4E;
  console_scroll_up();
  EXPECT_EQ(row(0), "");  // the text's row scrolled out of the buffer
  EXPECT_EQ(colour(0, 24), 0x4E);
  EXPECT_EQ(colour(79, 24), 0x4E);
  EXPECT_EQ(colour(0, 23), kDefaultAttribute);
  // Printed text takes the current colour whatever the cells had.
  place(0, 23);
  console_print("ab");
  EXPECT_EQ(colour(1, 23), 0x4E);
  EXPECT_EQ(colour(2, 23), kDefaultAttribute);
}

TEST_F(ConsoleTest, SecondOpenKeepsTheGeometryAndExistingConsoleIsNeverAllocated) {
  place(3, 4);
  memory_console_init(&screen, 40, 10, 40, 10);
  EXPECT_EQ(console_open(), 0);
  EXPECT_EQ(console_state.buffer_info.size.x, 80);
  EXPECT_EQ(cursor().x, 3);
  console_close();
  EXPECT_EQ(console_state.is_open, 0);
  EXPECT_EQ(console_state.output_handle, nullptr);
  EXPECT_EQ(screen.alloc_calls, 0u);
  EXPECT_EQ(screen.free_calls, 0u);
}

TEST_F(ConsoleTest, OpenTakesTheConsolesCursorAndColours) {
  memory_console_init(&screen, 80, 25, 80, 25, 0x2A);
  screen.info.cursor_position = {12, 7};
  console_close();
  console_state = ConsoleState{};
  console_open();
  EXPECT_EQ(console_state.attribute, 0x2Au);
  EXPECT_EQ(cursor().x, 12);
  EXPECT_EQ(cursor().y, 7);
  console_print("z");
  EXPECT_EQ(cell(12, 7), 'z');
  EXPECT_EQ(colour(12, 7), 0x2A);
}

TEST_F(ConsoleTest, WindowNarrowerThanTheBufferScrollsByTheWindowAndPlacesByTheBuffer) {
  open(120, 300, 80, 25);
  place(70, 24);
  console_print(std::string(15, 'w').c_str());  // 10 cells left in the window row: scroll
  EXPECT_EQ(cursor().y, 23);
  EXPECT_EQ(cursor().x, 85);  // the buffer row goes on past the window's edge
  EXPECT_EQ(row(23), std::string(70, ' ') + std::string(15, 'w'));
}

TEST_F(ConsoleTest, TextLongerThanTheWindowNeverPutsTheCursorAboveRowZero) {
  open(80, 3, 80, 3);
  place(0, 2);
  std::string text = digits(250);
  text[249] = '#';
  console_print(text.c_str());
  EXPECT_EQ(cursor().x, 10);
  EXPECT_EQ(cursor().y, 2);
  EXPECT_EQ(cell(9, 2), '#');              // the end of the text is shown
  EXPECT_EQ(row(0), text.substr(80, 80));  // its first 80 characters scrolled away
}

TEST_F(ConsoleTest, WideAndTallBuffersPlaceTheCursorCorrectly) {
  open(300, 30, 300, 30);
  place(295, 5);
  console_print("0123456789");
  EXPECT_EQ(cursor().x, 5);
  EXPECT_EQ(cursor().y, 6);
  EXPECT_EQ(cell(299, 5), '4');
  EXPECT_EQ(cell(0, 6), '5');

  open(80, 9001, 80, 25);
  place(70, 900);  // below the window: nothing scrolls
  console_print(std::string(20, 'r').c_str());
  EXPECT_EQ(cursor().x, 10);
  EXPECT_EQ(cursor().y, 901);
  EXPECT_EQ(cell(9, 901), 'r');
  console_newline();
  EXPECT_EQ(cursor().y, 901);  // at or below the window's bottom a newline scrolls
}
