#include "platform/memory_console.h"

#include <gtest/gtest.h>

namespace {

MemoryConsole make(int16_t columns, int16_t rows) {
  MemoryConsole c;
  memory_console_init(&c, columns, rows, columns, rows);
  return c;
}

}  // namespace

TEST(MemoryConsole, WritesContinueOnTheNextRowAndStopAtTheBufferEnd) {
  MemoryConsole c = make(4, 3);
  uint32_t written = 0;
  EXPECT_TRUE(memory_console_write_characters(&c, "abcdef", 6, {2, 0}, &written));
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(memory_console_row_text(&c, 0), "  ab");
  EXPECT_EQ(memory_console_row_text(&c, 1), "cdef");
  EXPECT_TRUE(memory_console_write_characters(&c, "xyzw", 4, {2, 2}, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(memory_console_row_text(&c, 2), "  xy");
  EXPECT_FALSE(memory_console_write_characters(&c, "q", 1, {4, 0}, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(memory_console_fill_attribute(&c, 0x1F, 100, {3, 1}, &written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(memory_console_cell(&c, 2, 1).attributes, kDefaultAttribute);
  EXPECT_EQ(memory_console_cell(&c, 3, 1).attributes, 0x1F);
  // Writing characters keeps the cells' colours.
  EXPECT_TRUE(memory_console_write_characters(&c, "k", 1, {0, 2}, &written));
  EXPECT_EQ(memory_console_cell(&c, 0, 2).attributes, 0x1F);
}

TEST(MemoryConsole, ScrollRectangleIsClippedAndUncoveredCellsGetTheFill) {
  MemoryConsole c = make(3, 3);
  uint32_t written = 0;
  memory_console_write_characters(&c, "abcdefghi", 9, {0, 0}, &written);
  const ConsoleSmallRect beyond{0, 1, 3, 3};  // one past the last column and row
  const ConsoleCharInfo fill{'.', 0x40};
  EXPECT_TRUE(memory_console_scroll(&c, &beyond, nullptr, {0, 0}, &fill));
  EXPECT_EQ(memory_console_row_text(&c, 0), "def");
  EXPECT_EQ(memory_console_row_text(&c, 1), "ghi");
  EXPECT_EQ(memory_console_row_text(&c, 2), "...");
  EXPECT_EQ(memory_console_cell(&c, 1, 2).attributes, 0x40);
  EXPECT_EQ(memory_console_cell(&c, 1, 1).attributes, kDefaultAttribute);

  // Moving right by one inside a clip rectangle: the clip protects what lies outside it.
  const ConsoleSmallRect all{0, 0, 2, 2};
  const ConsoleSmallRect clip{0, 0, 2, 0};
  EXPECT_TRUE(memory_console_scroll(&c, &all, &clip, {1, 0}, &fill));
  EXPECT_EQ(memory_console_row_text(&c, 0), ".de");
  EXPECT_EQ(memory_console_row_text(&c, 1), "ghi");

  const ConsoleSmallRect outside{5, 5, 9, 9};
  EXPECT_FALSE(memory_console_scroll(&c, &outside, nullptr, {0, 0}, &fill));
}

TEST(MemoryConsole, CursorMustStayInsideTheBufferAndInputComesInOrder) {
  MemoryConsole c = make(10, 5);
  EXPECT_TRUE(memory_console_set_cursor_position(&c, {9, 4}));
  EXPECT_FALSE(memory_console_set_cursor_position(&c, {10, 0}));
  EXPECT_FALSE(memory_console_set_cursor_position(&c, {0, -1}));
  EXPECT_EQ(c.info.cursor_position.x, 9);

  memory_console_push_key(&c, 'a', 0x1E);
  memory_console_push_event(&c, kMouseEvent);
  ConsoleInputRecord records[4];
  uint32_t read = 0;
  EXPECT_TRUE(memory_console_read_input(&c, records, 4, &read));
  ASSERT_EQ(read, 2u);
  EXPECT_EQ(records[0].ascii_char, 'a');
  EXPECT_EQ(records[1].event_type, kMouseEvent);
  EXPECT_TRUE(memory_console_read_input(&c, records, 1, &read));
  EXPECT_EQ(read, 0u);  // an empty memory queue never waits
}
