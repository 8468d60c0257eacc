// The file service's guarantees for writing files safely, on both back ends: exclusive
// creation, what a name stands for, replacement in one step, failing writes, flushing.
#include <gtest/gtest.h>

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

}  // namespace
