#include "files/file_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/file_layer_fixture.h"

namespace {

class FileDataTest : public FileLayerTest {
 protected:
  /// Creates `name` with `content` and opens it under number 0 for reading.
  static void open_with(const std::string& name, const std::string& content) {
    write_file(name, content);
    ASSERT_NE(file_open_for_reading(0, name.c_str()), 0);
  }
};

TEST_F(FileDataTest, BlockWrite) {
  ASSERT_NE(file_open_for_update(0, "pactest.pac"), 0);
  std::vector<unsigned char> archive(612288);
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<unsigned char>(i * 7);
  EXPECT_EQ(current_file_write_block(nullptr, 10), 0);
  EXPECT_EQ(current_file_write_block(archive.data(), 0), 0);
  EXPECT_EQ(current_file_size(), 0);
  EXPECT_NE(current_file_write_block(archive.data(), archive.size()), 0);
  EXPECT_EQ(current_file_position(), 612288);
  file_close(0);
  EXPECT_EQ(read_file("pactest.pac"), std::string(archive.begin(), archive.end()));

  // Update mode writes over the start of a longer file and keeps its length.
  write_file("hundred", std::string(100, 'o'));
  ASSERT_NE(file_open_for_update(0, "hundred"), 0);
  EXPECT_NE(current_file_write_block("0123456789", 10), 0);
  file_close(0);
  EXPECT_EQ(read_file("hundred"), "0123456789" + std::string(90, 'o'));

  ASSERT_NE(file_open_for_reading(0, "hundred"), 0);
  EXPECT_EQ(current_file_write_block("x", 1), 0);  // a read-only file refuses the write
}

TEST_F(FileDataTest, FixedSizeValuesAreLittleEndianAndSignExtended) {
  open_with("values", std::string("\x34\x12\xFF\xFF\xFF\xFE\xFF\xFF\xFF\x00\x00\xC0\x3F\x80", 14));
  EXPECT_EQ(current_file_read_word(), 0x1234);
  EXPECT_EQ(current_file_read_word(), -1);
  EXPECT_EQ(current_file_read_byte(), -1);
  EXPECT_EQ(current_file_read_long(), -2);
  EXPECT_EQ(current_file_read_float(), 1.5f);
  EXPECT_EQ(current_file_read_word(), 128);  // a short read: the missing high byte is 0
  EXPECT_EQ(current_file_read_word(), 0);
  EXPECT_EQ(current_file_read_long(), 0);

  open_with("short", "\x01\x02\x83");
  EXPECT_EQ(current_file_read_long(), 0x830201);
  current_file_seek(0);
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(current_file_read_block(buffer, sizeof buffer), 3u);
  EXPECT_EQ(std::string(buffer, 8), "\x01\x02\x83#####");
  EXPECT_EQ(current_file_read_block(buffer, sizeof buffer), 0u);
}

TEST_F(FileDataTest, WithoutACurrentFile) {
  write_file("a", "abc");
  ASSERT_NE(file_open_for_reading(0, "a"), 0);
  file_close(0);  // closing the current file leaves none
  char* cursor = runtime_memory.string_cursor;
  char buffer[4] = {'#'};
  EXPECT_EQ(current_file_write_block("x", 1), 0);
  EXPECT_EQ(current_file_read_block(buffer, 4), 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(current_file_read_byte(), 0);
  EXPECT_EQ(current_file_read_word(), 0);
  EXPECT_EQ(current_file_read_long(), 0);
  EXPECT_EQ(current_file_read_float(), 0.0f);
  EXPECT_EQ(current_file_read_line(), nullptr);
  EXPECT_EQ(runtime_memory.string_cursor, cursor);
  current_file_seek(2);
  EXPECT_EQ(current_file_position(), -1);
  EXPECT_EQ(current_file_size(), -1);
}

TEST_F(FileDataTest, PositionsAndSize) {
  ASSERT_NE(file_open_for_update(0, "f"), 0);
  current_file_write_block("abcdef", 6);
  current_file_seek(2);
  EXPECT_EQ(current_file_position(), 2);
  current_file_seek(-5);  // refused: the position stays
  EXPECT_EQ(current_file_position(), 2);
  current_file_seek(10);  // past the end; a write there lengthens the file
  EXPECT_EQ(current_file_size(), 6);
  current_file_write_block("z", 1);
  EXPECT_EQ(current_file_size(), 11);
}

struct LineCase {
  std::string content;
  std::vector<std::string> lines;  // what successive reads give
  std::vector<int32_t> positions;  // the position after each read
};

TEST_F(FileDataTest, LinesEndAtCarriageReturnLineFeedOrZero) {
  const LineCase cases[] = {
      {"ab\r\ncd", {"ab", "cd", ""}, {4, 6, 6}},
      {"ab\ncd\n", {"ab", "cd", ""}, {3, 6, 6}},
      {"a\rb", {"a", "b"}, {2, 3}},
      {"a\n\rb", {"a", "", "b"}, {2, 3, 4}},
      {std::string("x\0y", 3), {"x", "y"}, {2, 3}},
      {"z\r", {"z", ""}, {2, 2}},
      {"\r\r\n", {"", "", ""}, {1, 3, 3}},
  };
  int n = 0;
  for (const LineCase& c : cases) {
    SCOPED_TRACE(n);
    open_with("lines" + std::to_string(n++), c.content);
    for (size_t i = 0; i < c.lines.size(); ++i) {
      char* mark = runtime_memory.string_cursor;
      char* line = current_file_read_line();
      ASSERT_EQ(line, mark);
      EXPECT_EQ(std::string(line), c.lines[i]) << i;
      EXPECT_EQ(runtime_memory.string_cursor, line + c.lines[i].size());
      EXPECT_EQ(*runtime_memory.string_cursor, 0);
      EXPECT_EQ(current_file_position(), c.positions[i]) << i;
      string_rewind(mark);
    }
  }
  EXPECT_EQ(file_at_end(0), -1);  // the last file was read to its end
}

TEST_F(FileDataTest, LineIsCutAtTheEndOfTheWorkspace) {
  char* near_end = runtime_memory.workspace + kStringWorkspaceSize - 4;  // room for 3 and 0
  open_with("long", "abcdefg\nxyz\nk");
  const char* expected[] = {"abc", "def", "g", "xyz", "k"};
  const int32_t positions[] = {3, 6, 8, 12, 13};
  for (int i = 0; i < 5; ++i) {
    string_rewind(near_end);
    char* line = current_file_read_line();
    ASSERT_EQ(line, near_end);
    EXPECT_STREQ(line, expected[i]) << i;
    EXPECT_EQ(current_file_position(), positions[i]) << i;
  }
  // With no room at all only the zero fits: nothing is consumed.
  current_file_seek(0);
  string_rewind(runtime_memory.workspace + kStringWorkspaceSize - 1);
  EXPECT_STREQ(current_file_read_line(), "");
  EXPECT_EQ(current_file_position(), 0);
  // A cursor outside the workspace gets nothing.
  string_rewind(runtime_memory.workspace + kStringWorkspaceSize);
  EXPECT_EQ(current_file_read_line(), nullptr);
  EXPECT_EQ(current_file_position(), 0);
}

TEST_F(FileDataTest, EndTestKeepsThePosition) {
  write_file("other", "12");
  FileReference id = file_open_for_reading(kNewDynamicFile, "other");
  open_with("main", "ab");
  EXPECT_EQ(file_at_end(5), 0);  // not open
  EXPECT_EQ(file_at_end(id), 0);
  EXPECT_EQ(file_at_end(0), 0);
  EXPECT_EQ(current_file_read_byte(), 'a');
  EXPECT_EQ(file_at_end(0), 0);
  EXPECT_EQ(current_file_position(), 1);
  current_file_seek(2);
  EXPECT_EQ(file_at_end(0), -1);
  EXPECT_EQ(current_file_position(), 2);
  file_select_current(id);
  EXPECT_EQ(current_file_position(), 0);  // the test on the other file moved nothing

  ASSERT_NE(file_create_for_writing(1, "written"), 0);
  current_file_write_block("data", 4);
  current_file_seek(0);
  EXPECT_EQ(file_at_end(1), -1);  // a write-only file cannot be read
}

}  // namespace
