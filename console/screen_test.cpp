#include "console/screen.h"

#include "testing/console_fixture.h"

TEST_F(ConsoleTest, SetColorBoundsAndClearPaintsTheWholeBuffer) {
  EXPECT_EQ(console_set_color(15, 15), 1);
  EXPECT_EQ(console_state.attribute, 255u);
  EXPECT_EQ(console_set_color(16, 0), 0);
  EXPECT_EQ(console_set_color(0, 16), 0);
  EXPECT_EQ(console_state.attribute, 255u);
  console_print("text");
  EXPECT_EQ(console_set_color(14, 1), 1);
  console_clear();
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 80; ++x) {
      ASSERT_EQ(colour(x, y), 30);
      ASSERT_EQ(cell(x, y), ' ');
    }
  EXPECT_EQ(cursor().x, 0);
  EXPECT_EQ(cursor().y, 0);
}

TEST_F(ConsoleTest, ClearCoversABufferOfMoreThan65535Cells) {
  open(120, 9001, 120, 50);
  console_set_color(2, 0);
  place(0, 9000);
  console_print("last row");
  console_clear();
  EXPECT_EQ(row(9000), "");
  EXPECT_EQ(colour(119, 9000), 2);
  EXPECT_EQ(colour(0, 0), 2);
}

TEST_F(ConsoleTest, LocateIsBoundedByTheLargestWindow) {
  screen.info.maximum_window_size = {80, 25};
  console_state.buffer_info.maximum_window_size = {80, 25};
  EXPECT_EQ(console_locate(80, 0), 0);
  EXPECT_EQ(console_locate(0, 25), 0);
  EXPECT_EQ(cursor().x, 0);
  EXPECT_EQ(console_locate(79, 24), 1);
  EXPECT_EQ(cursor().x, 79);
  EXPECT_EQ(screen.info.cursor_position.y, 24);
  console_locate(10, 3);
  console_print("here");
  EXPECT_EQ(row(3), "          here");
}

TEST_F(ConsoleTest, CursorShape) {
  EXPECT_EQ(console_set_cursor_shape(0), 1);
  EXPECT_EQ(screen.cursor_info.visible, 0u);
  EXPECT_EQ(screen.cursor_info.size, 1u);
  EXPECT_EQ(console_set_cursor_shape(5), 1);
  EXPECT_EQ(screen.cursor_info.visible, 1u);
  EXPECT_EQ(screen.cursor_info.size, 50u);
  EXPECT_EQ(console_set_cursor_shape(11), 0);
  EXPECT_EQ(screen.cursor_info.size, 50u);
  EXPECT_EQ(console_state.cursor_info.size, 50u);
}
