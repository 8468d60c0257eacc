// The stub's way with the folders of entries: each entry's folder found from the held
// output folder and entered, never through a link or over a file, also after an entry
// that failed part of the way or a folder that was moved away between two entries.
#ifndef _WIN32

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry_decoder.h"
#include "platform/file.h"
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

  /// Makes "out" and "anderswo" in the scratch folder and enters "out".
  static void enter_output_folder() {
    ASSERT_EQ(mkdir("out", 0755), 0);
    ASSERT_EQ(mkdir("anderswo", 0755), 0);
    ASSERT_EQ(chdir("out"), 0);
  }

  /// Everything beneath `folder`, sorted.
  static std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
      names.push_back(entry.path().lexically_relative(folder).string());
    std::sort(names.begin(), names.end());
    return names;
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

TEST_F(EntryFoldersTest, AFolderMovedAwayBetweenTwoEntriesTakesNothingOutside) {
  enter_output_folder();
  ASSERT_TRUE(put("a/b/c0"));
  // Renamed away while the run waits at a question: the entries that were to go there fail.
  std::filesystem::rename(in_scratch("out/a/b"), in_scratch("anderswo/b"));
  EXPECT_FALSE(put("a/b/c.txt"));
  EXPECT_FALSE(put("a/b/d/e.txt"));
  EXPECT_TRUE(put("a/f.txt"));
  ASSERT_TRUE(entry_folders_leave());
  EXPECT_EQ(listing(in_scratch("anderswo")), (std::vector<std::string>{"b", "b/c0"}));
  EXPECT_EQ(listing("."), (std::vector<std::string>{"a", "a/f.txt"}));
}

TEST_F(EntryFoldersTest, ALinkInAFoldersPlaceIsNeitherEnteredNorMadeThroughNorGivenATime) {
  enter_output_folder();
  ASSERT_TRUE(put("a/x/z/g"));
  std::filesystem::rename(in_scratch("out/a/x"), in_scratch("anderswo/x"));
  ASSERT_EQ(symlink(in_scratch("anderswo/x").c_str(), in_scratch("out/a/x").c_str()), 0);
  EXPECT_FALSE(put("a/x/h"));
  EXPECT_FALSE(put("a/x/z/i"));
  EXPECT_FALSE(put("a/x/neu/j"));
  ASSERT_TRUE(entry_folders_leave());
  EXPECT_FALSE(platform_folder_set_time(nullptr, "a/x/z", 0));
  EXPECT_TRUE(platform_folder_set_time(nullptr, "a", 0));
  EXPECT_EQ(listing(in_scratch("anderswo")), (std::vector<std::string>{"x", "x/z", "x/z/g"}));
  EXPECT_NE(std::filesystem::last_write_time(in_scratch("anderswo/x/z")),
            std::filesystem::last_write_time("a"));
}

#endif  // _WIN32
