// The stub's way with the folders of entries: each entry's folder entered and held as the
// current one, up only as far as two entries' folders differ, and never through a link
// or over a file, also after an entry that failed part of the way.
#ifndef _WIN32

#include <unistd.h>

#include <string>

#include "app/entry_decoder.h"
#include "testing/scratch_directory_fixture.h"

namespace {

class EntryFoldersTest : public ScratchDirectoryTest {
 protected:
  /// Makes the folders of `name` and writes `name` as its content from there; false when
  /// the folders were refused.
  bool put(const std::string& name) {
    char path[1100];
    name.copy(path, name.size());
    path[name.size()] = 0;
    if (!entry_folders_make(path, false)) return false;
    write_file(path, name);
    return true;
  }
};

}  // namespace

TEST_F(EntryFoldersTest, EntriesLandInTheirFoldersWhicheverWayTheRunMoves) {
  const char* const names[] = {"a/b/c/f1", "a/b/c/f2", "a/b/d/f3", "a/x",         "top",
                               "a/b/c/f4", "a/bb/f5",  "a/b/f6",   "a/b/c/d/e/f7"};
  for (const char* name : names) ASSERT_TRUE(put(name)) << name;
  ASSERT_TRUE(entry_folders_leave());
  for (const char* name : names) EXPECT_EQ(read_file(name), name);

  // A link in the way or a file where a folder should be refuses that entry alone, also
  // part of the way down; the next entries are written where they belong.
  ASSERT_EQ(symlink("a", "verweis"), 0);
  write_file("a/b/datei", "x");
  EXPECT_FALSE(put("verweis/b/boese"));
  EXPECT_TRUE(put("a/b/c/f8"));
  EXPECT_FALSE(put("a/b/datei/boese"));
  EXPECT_TRUE(put("f9"));
  ASSERT_EQ(symlink("/", "a/b/c/d/tief"), 0);
  EXPECT_FALSE(put("a/b/c/d/tief/boese"));
  EXPECT_TRUE(put("a/b/c/d/f10"));
  ASSERT_TRUE(entry_folders_leave());
  EXPECT_EQ(read_file("a/b/c/f8"), "a/b/c/f8");
  EXPECT_EQ(read_file("f9"), "f9");
  EXPECT_EQ(read_file("a/b/c/d/f10"), "a/b/c/d/f10");
  EXPECT_EQ(read_file("a/b/boese"), "<missing>");
  EXPECT_EQ(read_file("a/b/datei"), "x");

  // A folder entry is made in its folder.
  char folder[] = "a/neu/leer";
  ASSERT_TRUE(entry_folders_make(folder, true));
  EXPECT_STREQ(folder, "leer");
  ASSERT_TRUE(entry_folders_leave());
  EXPECT_EQ(access("a/neu/leer", F_OK), 0);
}

#endif  // _WIN32
