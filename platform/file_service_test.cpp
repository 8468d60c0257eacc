// The file service's guarantees for writing files safely, on both back ends: exclusive
// creation, what a name stands for, replacement in one step, placement that never
// replaces, folders found beneath a held one, failing writes, flushing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "testing/scratch_directory_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using FileContractTest = ScratchDirectoryTest;

constexpr uint32_t kReadWrite = kFileAccessRead | kFileAccessWrite;

#if defined(_WIN32)
constexpr const char* kDevice = "NUL";
#else
constexpr const char* kDevice = "/dev/null";
#endif

PlatformFile create_new(const char* name) {
  return platform_file_open(name, kReadWrite, kFileShareNone, FileDisposition::kCreateNew);
}

/// Takes the write permission from everyone (the read-only attribute on Windows).
void make_read_only(const std::string& name) {
  using std::filesystem::perms;
  std::filesystem::permissions(name, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

/// Turns the write-failure hook on for as long as it lives.
struct WriteLimit {
  explicit WriteLimit(int64_t bytes) { platform_file_fail_writes_after(bytes); }
  ~WriteLimit() { platform_file_fail_writes_after(-1); }
};

TEST_F(FileContractTest, CreateNewMakesOnlyWhatIsNotThere) {
  PlatformFile made = create_new("new");
  ASSERT_NE(made, kPlatformInvalidFile);
  uint32_t done = 0;
  EXPECT_TRUE(platform_file_write(made, "abc", 3, &done));
  EXPECT_TRUE(platform_file_close(made));

  EXPECT_EQ(create_new("new"), kPlatformInvalidFile);
  EXPECT_EQ(read_file("new"), "abc");  // neither emptied nor written
  ASSERT_EQ(mkdir("dir", 0755), 0);
  EXPECT_EQ(create_new("dir"), kPlatformInvalidFile);
  EXPECT_EQ(create_new(kDevice), kPlatformInvalidFile);
  EXPECT_EQ(
      platform_file_open(kDevice, kFileAccessWrite, kFileShareRead, FileDisposition::kCreateAlways),
      kPlatformInvalidFile);
  EXPECT_EQ(create_new(""), kPlatformInvalidFile);
#if !defined(_WIN32)
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  ASSERT_EQ(symlink("new", "link"), 0);
  EXPECT_EQ(create_new("dangling"), kPlatformInvalidFile);
  EXPECT_EQ(create_new("link"), kPlatformInvalidFile);
  EXPECT_FALSE(exists("nowhere"));  // the link's target was not made either
  EXPECT_EQ(read_file("new"), "abc");
#endif
}

TEST_F(FileContractTest, KindOfEachSortOfName) {
  write_file("plain", "x");
  write_file("ro", "x");
  make_read_only("ro");
  ASSERT_EQ(mkdir("dir", 0755), 0);
  EXPECT_EQ(platform_file_kind("missing"), FileKind::kMissing);
  EXPECT_EQ(platform_file_kind("dir/missing"), FileKind::kMissing);
  EXPECT_EQ(platform_file_kind(""), FileKind::kMissing);
  EXPECT_EQ(platform_file_kind(nullptr), FileKind::kMissing);
  EXPECT_EQ(platform_file_kind("plain"), FileKind::kRegular);
  EXPECT_EQ(platform_file_kind(in_scratch("plain").c_str()), FileKind::kRegular);
  EXPECT_EQ(platform_file_kind("ro"), FileKind::kReadOnly);
  EXPECT_EQ(platform_file_kind("dir"), FileKind::kDirectory);
  EXPECT_EQ(platform_file_kind(kDevice), FileKind::kOther);
#if !defined(_WIN32)
  ASSERT_EQ(symlink("plain", "to-file"), 0);
  ASSERT_EQ(symlink("dir", "to-dir"), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  ASSERT_EQ(mkfifo("fifo", 0644), 0);
  EXPECT_EQ(platform_file_kind("to-file"), FileKind::kLink);
  EXPECT_EQ(platform_file_kind("to-dir"), FileKind::kLink);
  write_file("dir/inner", "x");  // only the last component is taken as it is
  EXPECT_EQ(platform_file_kind("to-dir/inner"), FileKind::kRegular);
  EXPECT_EQ(platform_file_kind("dangling"), FileKind::kLink);
  EXPECT_EQ(platform_file_kind("fifo"), FileKind::kOther);
#endif
}

TEST_F(FileContractTest, ReplaceSwapsInTheNewFileAndKeepsTheOldOnesPermissions) {
  write_file("target", "old content");
#if defined(_WIN32)
  constexpr DWORD kMarks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA("target", kMarks));
#else
  ASSERT_EQ(chmod("target", 0640), 0);
#endif
  write_file("source", "new");
  EXPECT_TRUE(platform_file_replace("source", "target"));
  EXPECT_EQ(read_file("target"), "new");
  EXPECT_FALSE(exists("source"));
#if defined(_WIN32)
  EXPECT_EQ(GetFileAttributesA("target") & kMarks, kMarks);
#else
  struct stat info;
  ASSERT_EQ(stat("target", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif

  write_file("second", "made anew");  // a missing target is simply made
  EXPECT_TRUE(platform_file_replace("second", in_scratch("fresh").c_str()));
  EXPECT_EQ(read_file("fresh"), "made anew");
  EXPECT_FALSE(exists("second"));
}

TEST_F(FileContractTest, ReplaceRefusesWhatItMayNotOverwriteAndChangesNothing) {
  write_file("source", "new");
  write_file("ro", "kept");
  make_read_only("ro");
  ASSERT_EQ(mkdir("dir", 0755), 0);
  std::vector<std::string> targets = {"ro", "dir"};
#if !defined(_WIN32)
  write_file("outside", "kept");
  ASSERT_EQ(symlink("outside", "link"), 0);
  ASSERT_EQ(mkfifo("fifo", 0644), 0);
  targets.push_back("link");
  targets.push_back("fifo");
#endif
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    const FileKind before = platform_file_kind(target.c_str());
    EXPECT_FALSE(platform_file_replace("source", target.c_str()));
    EXPECT_EQ(platform_file_kind(target.c_str()), before);
    EXPECT_EQ(read_file("source"), "new");
  }
  EXPECT_EQ(read_file("ro"), "kept");
#if !defined(_WIN32)
  EXPECT_EQ(read_file("outside"), "kept");
  EXPECT_TRUE(platform_file_delete("link"));  // the link goes, not what it leads to
  EXPECT_FALSE(exists("link"));
  EXPECT_EQ(read_file("outside"), "kept");
#endif
  // Only a regular file is put in place.
  EXPECT_FALSE(platform_file_replace("dir", "target"));
  EXPECT_FALSE(platform_file_replace("missing", "target"));
  EXPECT_FALSE(exists("target"));
  EXPECT_TRUE(exists("dir"));
}

TEST_F(FileContractTest, AWriteFailsOnceTheHookAllowsNoMore) {
  constexpr int64_t kAllowed = 5;
  PlatformFile file = create_new("partial");
  ASSERT_NE(file, kPlatformInvalidFile);
  uint32_t done = 0;
  {
    WriteLimit limit(kAllowed);
    EXPECT_TRUE(platform_file_write(file, "abc", 3, &done));
    EXPECT_FALSE(platform_file_write(file, "defg", 4, &done));  // crosses the limit
    EXPECT_EQ(done, 2u);
    EXPECT_FALSE(platform_file_write(file, "h", 1, &done));
    EXPECT_EQ(done, 0u);
  }
  EXPECT_TRUE(platform_file_close(file));
  EXPECT_EQ(read_file("partial"), "abcde");

  // Off again: whole writes succeed.
  file = platform_file_open("partial", kFileAccessWrite, kFileShareNone,
                            FileDisposition::kCreateAlways);
  ASSERT_NE(file, kPlatformInvalidFile);
  EXPECT_TRUE(platform_file_write(file, "whole", 5, &done));
  EXPECT_EQ(done, 5u);
  platform_file_close(file);
  EXPECT_EQ(read_file("partial"), "whole");
}

TEST_F(FileContractTest, FlushNeedsAnOpenHandle) {
  PlatformFile file = create_new("flushed");
  ASSERT_NE(file, kPlatformInvalidFile);
  uint32_t done = 0;
  ASSERT_TRUE(platform_file_write(file, "data", 4, &done));
  EXPECT_TRUE(platform_file_flush(file));
  EXPECT_TRUE(platform_file_close(file));
  EXPECT_EQ(read_file("flushed"), "data");
  EXPECT_FALSE(platform_file_flush(file));
  EXPECT_FALSE(platform_file_flush(kPlatformInvalidFile));
  EXPECT_FALSE(platform_file_flush(nullptr));
}

/// The ways each back end may take; the POSIX one also takes the older ones of systems
/// that lack the newer calls.
constexpr FileSystemWays kEveryWay[] = {FileSystemWays::kNewest, FileSystemWays::kWithoutNewCalls,
                                        FileSystemWays::kWithoutHardLinks};

/// Limits the back end's ways for as long as it lives.
struct WaysLimit {
  explicit WaysLimit(FileSystemWays ways) { platform_file_limit_ways(ways); }
  ~WaysLimit() { platform_file_limit_ways(FileSystemWays::kNewest); }
};

/// The modification time of `path` in seconds since 1970.
int64_t modification_seconds(const std::string& path) {
  using namespace std::chrono;
  const auto time = file_clock::to_sys(std::filesystem::last_write_time(path));
  return duration_cast<seconds>(time.time_since_epoch()).count();
}

/// True when the current folder is `path`.
bool standing_in(const std::string& path) {
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::current_path(), path, error);
}

TEST_F(FileContractTest, PlacingNeverReplacesWhatAppearedAtTheName) {
  enum Target { kNothing, kFileAppeared, kFolder, kDanglingLink };
  const struct {
    Target target;
    FilePlacement expected;
  } cases[] = {{kNothing, FilePlacement::kPlaced},
               {kFileAppeared, FilePlacement::kTaken},
               {kFolder, FilePlacement::kTaken},
               {kDanglingLink, FilePlacement::kTaken}};
  for (FileSystemWays ways : kEveryWay) {
    WaysLimit limit(ways);
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "ways " << int(ways) << ", target " << c.target);
#if defined(_WIN32)
      if (c.target == kDanglingLink) continue;
#else
      if (c.target == kDanglingLink) {
        ASSERT_EQ(symlink("nirgends", "ziel"), 0);
      }
#endif
      if (c.target == kFolder) {
        ASSERT_EQ(mkdir("ziel", 0755), 0);
      }
      PlatformFile made = create_new("neu");
      ASSERT_NE(made, kPlatformInvalidFile);
      uint32_t done = 0;
      ASSERT_TRUE(platform_file_write(made, "new", 3, &done));
      ASSERT_TRUE(platform_file_close(made));
      if (c.target == kFileAppeared) write_file("ziel", "theirs");  // after the new file
      const FileKind before = platform_file_kind("ziel");
      EXPECT_EQ(platform_file_place("neu", "ziel"), c.expected);
      if (c.expected == FilePlacement::kPlaced) {
        EXPECT_EQ(read_file("ziel"), "new");
        EXPECT_FALSE(exists("neu"));
#if !defined(_WIN32)
        const mode_t mask = umask(0);
        umask(mask);
        struct stat info;
        ASSERT_EQ(stat("ziel", &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);  // a new file's bits, kept
#endif
      } else {
        EXPECT_EQ(read_file("neu"), "new");
        EXPECT_EQ(platform_file_kind("ziel"), before);
        if (c.target == kFileAppeared) {
          EXPECT_EQ(read_file("ziel"), "theirs");
        }
        EXPECT_FALSE(exists("nirgends"));
      }
      std::error_code error;
      std::filesystem::remove("neu", error);
      std::filesystem::remove("ziel", error);
    }
  }
  ASSERT_EQ(mkdir("ordner", 0755), 0);  // only a regular file is placed
  EXPECT_EQ(platform_file_place("ordner", "ziel"), FilePlacement::kFailed);
  EXPECT_EQ(platform_file_place("fehlt", "ziel"), FilePlacement::kFailed);
  EXPECT_FALSE(exists("ziel"));
}

TEST_F(FileContractTest, FoldersAreFoundBeneathTheHeldOneAndNeverThroughALink) {
  ASSERT_TRUE(std::filesystem::create_directories("out/a/b"));
  ASSERT_EQ(mkdir("anderswo", 0755), 0);
  write_file("out/a/datei", "x");
  const struct {
    const char* relative;
    size_t existing;    ///< bytes that must exist already
    const char* lands;  ///< the folder entered, beneath the scratch folder; null: refused
  } cases[] = {
    {"", SIZE_MAX, "out"},
    {"a/b", SIZE_MAX, "out/a/b"},
    {"a/neu/tief", 1, "out/a/neu/tief"},  // made below the part that must exist
    {"a/b/c", 3, "out/a/b/c"},
    {"a/fehlt", SIZE_MAX, nullptr},  // missing and not to be made
    {"fehlt/x", 5, nullptr},
    {"a/datei", 0, nullptr},
    {"a//b", 0, nullptr},
    {"a/../a", 0, nullptr},
    {"/a", 0, nullptr},
    {"a/", 0, nullptr},
#if !defined(_WIN32)
    {"verweis", SIZE_MAX, nullptr},  // a link to a folder beneath, at the end or on the way
    {"verweis/b", 0, nullptr},
    {"a/raus/x", 0, nullptr},  // a link out of the held folder
#endif
  };
#if !defined(_WIN32)
  ASSERT_EQ(symlink("a", "out/verweis"), 0);
  ASSERT_EQ(symlink("../../anderswo", "out/a/raus"), 0);
#endif
  PlatformFolder held = platform_folder_hold("out");
  ASSERT_NE(held, nullptr);
  for (FileSystemWays ways : kEveryWay) {
    WaysLimit limit(ways);
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "ways " << int(ways) << ", " << c.relative);
      ASSERT_TRUE(platform_set_current_directory(directory_.c_str()));
      EXPECT_EQ(platform_folder_enter(held, c.relative, c.existing), c.lands != nullptr);
      EXPECT_TRUE(standing_in(c.lands ? in_scratch(native_path(c.lands)) : directory_));
    }
  }
  ASSERT_TRUE(platform_set_current_directory(directory_.c_str()));
  EXPECT_FALSE(exists("out/a/fehlt") || exists("out/fehlt"));
  EXPECT_TRUE(std::filesystem::is_empty("anderswo"));
  EXPECT_FALSE(platform_folder_enter(nullptr, "", 0));
  platform_folder_release(held);
  EXPECT_EQ(platform_folder_hold("out/a/datei"), nullptr);
  EXPECT_EQ(platform_folder_hold("fehlt"), nullptr);
}

TEST_F(FileContractTest, AHeldFolderIsFoundAgainAndWhatMovedAwayIsNotFollowed) {
  ASSERT_TRUE(std::filesystem::create_directories("out/a/b/c"));
  ASSERT_EQ(mkdir("anderswo", 0755), 0);
  PlatformFolder held = platform_folder_hold("out");
  ASSERT_NE(held, nullptr);
  constexpr int64_t kTime = 1234567890;
  for (FileSystemWays ways : kEveryWay) {
    SCOPED_TRACE(int(ways));
    WaysLimit limit(ways);
    ASSERT_TRUE(platform_folder_enter(held, "a/b", SIZE_MAX));
    // The folder entered moves away between two entries: nothing more is found through it,
    // nothing is made where it went, nor in its place where it must exist.
    ASSERT_TRUE(platform_set_current_directory(directory_.c_str()));
    std::filesystem::rename("out/a/b", "anderswo/b");
    EXPECT_FALSE(platform_folder_enter(held, "a/b/c", 3));
    EXPECT_FALSE(platform_folder_enter(held, "a/b/d", 3));
    EXPECT_FALSE(platform_folder_set_time(held, "a/b/c", kTime));
    EXPECT_FALSE(exists("out/a/b"));
    EXPECT_FALSE(exists("anderswo/b/d"));
#if !defined(_WIN32)
    // A link in its place is neither entered nor made through, nor given a time.
    ASSERT_EQ(symlink("../../anderswo/b", "out/a/b"), 0);
    EXPECT_FALSE(platform_folder_enter(held, "a/b/c", 0));
    EXPECT_FALSE(platform_folder_enter(held, "a/b/d", 0));
    EXPECT_FALSE(platform_folder_set_time(held, "a/b/c", kTime));
    EXPECT_FALSE(platform_folder_set_time(nullptr, "out/a/b", kTime));
    EXPECT_FALSE(exists("anderswo/b/d"));
    EXPECT_NE(modification_seconds("anderswo/b/c"), kTime);
    ASSERT_EQ(unlink("out/a/b"), 0);
#endif
    std::filesystem::rename("anderswo/b", "out/a/b");
  }
  // Times are set through the folder found, from the held one or from the current one.
  EXPECT_TRUE(platform_folder_set_time(held, "a/b", kTime));
  EXPECT_TRUE(platform_folder_set_time(nullptr, "out/a", kTime + 1));
  EXPECT_EQ(modification_seconds("out/a/b"), kTime);
  EXPECT_EQ(modification_seconds("out/a"), kTime + 1);
#if !defined(_WIN32)
  // The held folder itself moves: it is found where it went.
  std::filesystem::rename("out", "verschoben");
  ASSERT_TRUE(platform_folder_enter(held, "a", SIZE_MAX));
  EXPECT_TRUE(standing_in(in_scratch("verschoben/a")));
#endif
  platform_folder_release(held);
}

}  // namespace
