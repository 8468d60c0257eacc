#include "platform/memory_console.h"

#include <gtest/gtest.h>

#include "testing/memory_console_helpers.h"

namespace {

/// Makes `c` a console of `columns` x `rows` with a window of the same size.
void make(MemoryConsole* c, int16_t columns, int16_t rows) {
  ASSERT_TRUE(memory_console_init(c, columns, rows, columns, rows));
}

}  // namespace

TEST(MemoryConsole, WritesContinueOnTheNextRowAndStopAtTheBufferEnd) {
  MemoryConsole c;
  make(&c, 4, 3);
  uint32_t written = 0;
  EXPECT_TRUE(memory_console_write_characters(&c, "abcdef", 6, {2, 0}, &written));
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(memory_console_row(&c, 0), "  ab");
  EXPECT_EQ(memory_console_row(&c, 1), "cdef");
  EXPECT_TRUE(memory_console_write_characters(&c, "xyzw", 4, {2, 2}, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(memory_console_row(&c, 2), "  xy");
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
  MemoryConsole c;
  make(&c, 3, 3);
  uint32_t written = 0;
  memory_console_write_characters(&c, "abcdefghi", 9, {0, 0}, &written);
  const ConsoleSmallRect beyond{0, 1, 3, 3};  // one past the last column and row
  const ConsoleCharInfo fill{'.', 0x40};
  EXPECT_TRUE(memory_console_scroll(&c, &beyond, nullptr, {0, 0}, &fill));
  EXPECT_EQ(memory_console_row(&c, 0), "def");
  EXPECT_EQ(memory_console_row(&c, 1), "ghi");
  EXPECT_EQ(memory_console_row(&c, 2), "...");
  EXPECT_EQ(memory_console_cell(&c, 1, 2).attributes, 0x40);
  EXPECT_EQ(memory_console_cell(&c, 1, 1).attributes, kDefaultAttribute);

  // Moving right by one inside a clip rectangle: the clip protects what lies outside it.
  const ConsoleSmallRect all{0, 0, 2, 2};
  const ConsoleSmallRect clip{0, 0, 2, 0};
  EXPECT_TRUE(memory_console_scroll(&c, &all, &clip, {1, 0}, &fill));
  EXPECT_EQ(memory_console_row(&c, 0), ".de");
  EXPECT_EQ(memory_console_row(&c, 1), "ghi");

  const ConsoleSmallRect outside{5, 5, 9, 9};
  EXPECT_FALSE(memory_console_scroll(&c, &outside, nullptr, {0, 0}, &fill));
}

TEST(MemoryConsole, CursorMustStayInsideTheBufferAndInputComesInOrder) {
  MemoryConsole c;
  make(&c, 10, 5);
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

TEST(MemoryConsole, QueueKeepsOrderWhileItGrowsAndRowTextFitsItsBuffer) {
  MemoryConsole c;
  make(&c, 6, 2);
  // Reads between pushes move the queue's start, so that growing copies a wrapped ring.
  ConsoleInputRecord record;
  uint32_t read = 0;
  char next_in = 0;
  char next_out = 0;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 13; ++i) ASSERT_TRUE(memory_console_push_key(&c, next_in++, 0));
    for (int i = 0; i < 7; ++i) {
      ASSERT_TRUE(memory_console_read_input(&c, &record, 1, &read));
      ASSERT_EQ(read, 1u);
      EXPECT_EQ(record.ascii_char, next_out++);
    }
  }
  EXPECT_EQ(c.input.size(), 30u);
  while (!c.input.empty()) {
    memory_console_read_input(&c, &record, 1, &read);
    EXPECT_EQ(record.ascii_char, next_out++);
  }
  EXPECT_EQ(next_out, next_in);

  uint32_t written = 0;
  memory_console_write_characters(&c, "ab d", 4, {0, 0}, &written);
  char text[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(memory_console_row_text(&c, 0, text, sizeof text), 3u);
  EXPECT_STREQ(text, "ab ");  // cut to the buffer, trailing blank kept: it is not trailing
  EXPECT_EQ(memory_console_row_text(&c, 1, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");

  // A second init frees what the first held; a title is copied.
  c.title = "Titel";
  EXPECT_STREQ(c.title.c_str(), "Titel");
  ASSERT_TRUE(memory_console_init(&c, 2, 2, 2, 2));
  EXPECT_STREQ(c.title.c_str(), "");
  EXPECT_TRUE(c.input.empty());
  EXPECT_EQ(memory_console_row(&c, 0), "");
}
