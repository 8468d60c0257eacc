#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "testing/scratch_directory_fixture.h"

namespace {

using FileServiceTest = ScratchDirectoryTest;

constexpr uint32_t kReadWrite = kFileAccessRead | kFileAccessWrite;

PlatformFile open_read(const char* name) {
  return platform_file_open(name, kFileAccessRead, kFileShareRead, FileDisposition::kOpenExisting);
}
PlatformFile open_update(const char* name) {
  return platform_file_open(name, kReadWrite, kFileShareRead, FileDisposition::kOpenAlways);
}
PlatformFile create_write(const char* name) {
  return platform_file_open(name, kFileAccessWrite, kFileShareRead, FileDisposition::kCreateAlways);
}
PlatformFile open_exclusive(const char* name) {
  return platform_file_open(name, kReadWrite, kFileShareNone, FileDisposition::kOpenExisting);
}

TEST_F(FileServiceTest, SharingAmongHandlesOfTheSameFile) {
  write_file("a", "abc");
  PlatformFile first = open_read("a");
  ASSERT_NE(first, kPlatformInvalidFile);
  PlatformFile second = open_read("a");  // read beside read
  ASSERT_NE(second, kPlatformInvalidFile);
  EXPECT_EQ(open_exclusive("a"), kPlatformInvalidFile);  // share none while others are open
  EXPECT_EQ(open_update("a"), kPlatformInvalidFile);     // write not shared by the readers
  EXPECT_EQ(create_write("./a"), kPlatformInvalidFile);  // another name of the same file
  EXPECT_EQ(read_file("a"), "abc");                      // a refused create empties nothing
  EXPECT_TRUE(platform_file_close(first));
  EXPECT_TRUE(platform_file_close(second));

  PlatformFile update = open_update("a");
  ASSERT_NE(update, kPlatformInvalidFile);
  EXPECT_EQ(open_read("a"), kPlatformInvalidFile);  // its write access is not shared
  EXPECT_TRUE(platform_file_close(update));

  PlatformFile exclusive = open_exclusive("a");
  ASSERT_NE(exclusive, kPlatformInvalidFile);
  ASSERT_EQ(link("a", "hard"), 0);
  EXPECT_EQ(open_read("hard"), kPlatformInvalidFile);  // locked out by inode, not by name
  EXPECT_TRUE(platform_file_close(exclusive));
  PlatformFile again = open_read("hard");
  EXPECT_NE(again, kPlatformInvalidFile);
  platform_file_close(again);
}

TEST_F(FileServiceTest, DispositionsKeepOrEmptyAndStartAtZero) {
  EXPECT_EQ(open_read("missing"), kPlatformInvalidFile);
  EXPECT_EQ(open_exclusive("missing"), kPlatformInvalidFile);
  EXPECT_EQ(access("missing", F_OK), -1);  // opening an existing file creates nothing

  write_file("a", "0123456789");
  PlatformFile f = open_update("a");
  ASSERT_NE(f, kPlatformInvalidFile);
  EXPECT_EQ(platform_file_seek(f, 0, FileSeekOrigin::kFromCurrent), 0u);
  EXPECT_EQ(platform_file_size(f), 10u);  // kept as it was
  platform_file_close(f);

  f = create_write("a");
  ASSERT_NE(f, kPlatformInvalidFile);
  EXPECT_EQ(platform_file_size(f), 0u);
  platform_file_close(f);

  mode_t old_mask = umask(022);
  f = open_update("new");
  umask(old_mask);
  ASSERT_NE(f, kPlatformInvalidFile);
  platform_file_close(f);
  struct stat info;
  ASSERT_EQ(stat("new", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(FileServiceTest, OnlyRegularFilesOpen) {
  ASSERT_EQ(mkdir("d", 0755), 0);
  EXPECT_EQ(open_read("d"), kPlatformInvalidFile);
  EXPECT_EQ(open_update("d"), kPlatformInvalidFile);
  ASSERT_EQ(mkfifo("fifo", 0644), 0);
  EXPECT_EQ(open_read("fifo"), kPlatformInvalidFile);  // refused at once, no wait for a writer
  EXPECT_EQ(platform_file_open(nullptr, kReadWrite, 0, FileDisposition::kOpenAlways),
            kPlatformInvalidFile);
  EXPECT_EQ(open_update(""), kPlatformInvalidFile);
}

TEST_F(FileServiceTest, NothingIsWrittenThroughASymbolicLink) {
  write_file("real", "keep");
  ASSERT_EQ(symlink("real", "link"), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  EXPECT_EQ(open_update("link"), kPlatformInvalidFile);
  EXPECT_EQ(create_write("link"), kPlatformInvalidFile);
  EXPECT_EQ(create_write("dangling"), kPlatformInvalidFile);
  EXPECT_EQ(read_file("real"), "keep");
  EXPECT_EQ(read_file("nowhere"), "<missing>");
  PlatformFile reader = open_read("link");  // reading through a link is harmless
  ASSERT_NE(reader, kPlatformInvalidFile);
  platform_file_close(reader);
}

TEST_F(FileServiceTest, AFileNobodyMayWriteIsReadOnlyForEveryone) {
  write_file("ro", "keep");
  ASSERT_EQ(chmod("ro", 0444), 0);
  EXPECT_EQ(open_update("ro"), kPlatformInvalidFile);
  EXPECT_EQ(create_write("ro"), kPlatformInvalidFile);
  EXPECT_EQ(read_file("ro"), "keep");
  PlatformFile reader = open_read("ro");
  ASSERT_NE(reader, kPlatformInvalidFile);
  platform_file_close(reader);
  ASSERT_EQ(chmod("ro", 0644), 0);
  PlatformFile writer = create_write("ro");
  EXPECT_NE(writer, kPlatformInvalidFile);
  platform_file_close(writer);
}

TEST_F(FileServiceTest, AccessAndPositions) {
  write_file("a", "hello");
  PlatformFile reader = open_read("a");
  char buffer[8] = {};
  uint32_t done = 7;
  EXPECT_FALSE(platform_file_write(reader, "x", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(platform_file_seek(reader, 3, FileSeekOrigin::kFromStart), 3u);
  EXPECT_EQ(platform_file_seek(reader, -1, FileSeekOrigin::kFromCurrent), 2u);
  EXPECT_EQ(platform_file_seek(reader, -3, FileSeekOrigin::kFromCurrent), kFileQueryFailed);
  EXPECT_EQ(platform_file_seek(reader, -1, FileSeekOrigin::kFromStart), kFileQueryFailed);
  EXPECT_TRUE(platform_file_read(reader, buffer, 8, &done));  // position kept after refusals
  EXPECT_EQ(std::string(buffer, done), "llo");
  EXPECT_TRUE(platform_file_read(reader, buffer, 8, &done));
  EXPECT_EQ(done, 0u);
  platform_file_close(reader);

  PlatformFile writer = create_write("b");
  EXPECT_FALSE(platform_file_read(writer, buffer, 1, &done));
  platform_file_close(writer);
}

TEST_F(FileServiceTest, HandlesThatAreNotOpenAreRefused) {
  write_file("a", "abc");
  PlatformFile f = open_read("a");
  ASSERT_TRUE(platform_file_close(f));
  char byte;
  uint32_t done = 1;
  for (PlatformFile bad : {f, kPlatformInvalidFile, PlatformFile{}}) {
    EXPECT_FALSE(platform_file_read(bad, &byte, 1, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(platform_file_write(bad, "x", 1, &done));
    EXPECT_EQ(platform_file_seek(bad, 0, FileSeekOrigin::kFromStart), kFileQueryFailed);
    EXPECT_EQ(platform_file_size(bad), kFileQueryFailed);
    EXPECT_FALSE(platform_file_close(bad));
  }
  // The closed handle no longer takes part in sharing.
  PlatformFile exclusive = open_exclusive("a");
  EXPECT_NE(exclusive, kPlatformInvalidFile);
  platform_file_close(exclusive);
}

TEST_F(FileServiceTest, FindFirstWithWildcards) {
  write_file("beta.txt", "22");
  write_file("alpha.txt", "1");
  write_file("a[1].dat", "333");
  ASSERT_EQ(mkdir("dir", 0755), 0);
  write_file("dir/inner.txt", "4444");
  FileFindEntry entry{};

  ASSERT_TRUE(platform_find_first("*.txt", &entry));  // the smallest matching name decides
  EXPECT_EQ(entry.size, 1u);
  ASSERT_TRUE(platform_find_first("b?ta.*", &entry));
  EXPECT_EQ(entry.size, 2u);
  ASSERT_TRUE(platform_find_first("a[1].dat", &entry));  // brackets are plain characters
  EXPECT_EQ(entry.size, 3u);
  ASSERT_TRUE(platform_find_first("a[?]*", &entry));
  EXPECT_EQ(entry.size, 3u);
  ASSERT_TRUE(platform_find_first("dir/*", &entry));
  EXPECT_EQ(entry.size, 4u);
  ASSERT_TRUE(platform_find_first((directory_ + "/di?").c_str(), &entry));
  EXPECT_TRUE(entry.is_directory);
  ASSERT_TRUE(platform_find_first("dir", &entry));
  EXPECT_TRUE(entry.is_directory);
  EXPECT_EQ(entry.size, 0u);

  EXPECT_FALSE(platform_find_first("*.none", &entry));
  EXPECT_FALSE(platform_find_first("alpha.tx", &entry));
  EXPECT_FALSE(platform_find_first("?", &entry));  // "." and ".." are not entries
  EXPECT_FALSE(platform_find_first("dir/", &entry));
  EXPECT_FALSE(platform_find_first("", &entry));
  EXPECT_FALSE(platform_find_first("missing/*", &entry));
}

TEST_F(FileServiceTest, DeleteDirectoryAndDrives) {
  write_file("a", "abc");
  PlatformFile f = open_read("a");
  EXPECT_FALSE(platform_file_delete("a"));  // open handles do not share deletion
  platform_file_close(f);
  EXPECT_TRUE(platform_file_delete("a"));
  EXPECT_FALSE(platform_file_delete("a"));
  ASSERT_EQ(mkdir("d", 0755), 0);
  EXPECT_FALSE(platform_file_delete("d"));
  EXPECT_FALSE(platform_file_delete(nullptr));

  EXPECT_TRUE(platform_set_current_directory("d"));
  EXPECT_EQ(current_directory(), directory_ + "/d");
  EXPECT_FALSE(platform_set_current_directory("nowhere"));
  EXPECT_FALSE(platform_set_current_directory(""));
  EXPECT_EQ(current_directory(), directory_ + "/d");

  EXPECT_EQ(platform_drive_type("C:/"), kDriveNoRootDirectory);
}

}  // namespace

TEST_F(FileServiceTest, PositionsAndSizesBeyondFourGigabytes) {
  write_file("big", "");
  constexpr uint64_t kBeyond = (uint64_t{1} << 32) + 10;
  ASSERT_TRUE(set_size("big", kBeyond + 5));  // sparse
  PlatformFile file =
      platform_file_open("big", kReadWrite, kFileShareRead, FileDisposition::kOpenExisting);
  ASSERT_NE(file, kPlatformInvalidFile);
  EXPECT_EQ(platform_file_size64(file), kBeyond + 5);
  ASSERT_TRUE(platform_file_seek64(file, kBeyond));
  uint32_t done = 0;
  EXPECT_TRUE(platform_file_write(file, "xyz", 3, &done));
  char back[5] = {};
  ASSERT_TRUE(platform_file_seek64(file, kBeyond - 1));
  EXPECT_TRUE(platform_file_read(file, back, sizeof back, &done));
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(std::string(back, 5), std::string("\0xyz\0", 5));
  EXPECT_FALSE(platform_file_seek64(file, UINT64_MAX));  // beyond what the system can hold
  EXPECT_TRUE(platform_file_close(file));
  EXPECT_FALSE(platform_file_seek64(file, 0));  // a closed handle
  EXPECT_EQ(platform_file_size64(file), UINT64_MAX);
}

TEST_F(FileServiceTest, SeeksLandWhereAskedAfterReadsWritesAndShortReads) {
  write_file("p", "0123456789");
  PlatformFile file = open_update("p");
  char got[8] = {};
  uint32_t done = 0;
  const auto read_at = [&](uint64_t position, uint32_t count) {
    EXPECT_TRUE(platform_file_seek64(file, position));
    EXPECT_TRUE(platform_file_read(file, got, count, &done));
    return std::string(got, done);
  };
  EXPECT_EQ(read_at(2, 3), "234");
  EXPECT_EQ(read_at(5, 2), "56");  // where the last read stopped
  EXPECT_EQ(read_at(2, 2), "23");  // back again
  EXPECT_EQ(read_at(8, 8), "89");  // stops short at the end
  EXPECT_EQ(read_at(7, 1), "7");
  ASSERT_TRUE(platform_file_seek64(file, 3));
  EXPECT_TRUE(platform_file_write(file, "ab", 2, &done));
  EXPECT_EQ(read_at(3, 3), "ab5");  // the write moved on from 3
  EXPECT_EQ(platform_file_seek(file, -4, FileSeekOrigin::kFromCurrent), 2u);
  EXPECT_EQ(read_at(6, 2), "67");  // the relative seek moved away from 6
  EXPECT_TRUE(platform_file_close(file));
}

TEST_F(FileServiceTest, EnteringAFolderNeverGoesThroughALink) {
  ASSERT_TRUE(platform_make_directory("innen"));
  write_file("innen/da", "x");
  write_file("datei", "x");
  ASSERT_EQ(symlink("innen", "verweis"), 0);
  EXPECT_FALSE(platform_enter_directory("verweis"));
  EXPECT_FALSE(platform_enter_directory("datei"));
  EXPECT_FALSE(platform_enter_directory("fehlt"));
  EXPECT_FALSE(platform_enter_directory(""));
  EXPECT_EQ(platform_file_kind("datei"), FileKind::kRegular);  // still where it was
  ASSERT_TRUE(platform_enter_directory("innen"));
  EXPECT_EQ(platform_file_kind("da"), FileKind::kRegular);
  EXPECT_TRUE(platform_set_current_directory(".."));
  EXPECT_EQ(platform_file_kind("datei"), FileKind::kRegular);
}

TEST_F(FileServiceTest, MakingFoldersNeverGoesThroughALinkOrOverAFile) {
  EXPECT_TRUE(platform_make_directory("neu"));
  EXPECT_TRUE(platform_make_directory("neu"));  // there already
  EXPECT_TRUE(platform_make_directory("neu/unter"));
  EXPECT_FALSE(platform_make_directory("fehlt/unter"));  // no parent
  write_file("datei", "x");
  EXPECT_FALSE(platform_make_directory("datei"));
  ASSERT_EQ(symlink("neu", "zum_ordner"), 0);
  ASSERT_EQ(symlink("nirgends", "ins_leere"), 0);
  EXPECT_FALSE(platform_make_directory("zum_ordner"));
  EXPECT_FALSE(platform_make_directory("ins_leere"));
  EXPECT_EQ(platform_file_kind("nirgends"), FileKind::kMissing);
  EXPECT_FALSE(platform_make_directory(""));
}

TEST_F(FileServiceTest, TimesAndTheExecutableBitAreSetOnTheNameItself) {
  write_file("datei", "x");
  ASSERT_EQ(mkdir("ordner", 0755), 0);
  ASSERT_EQ(symlink("datei", "link"), 0);
  EXPECT_TRUE(platform_set_file_time("datei", 1234567890));
  EXPECT_TRUE(platform_set_file_time("ordner", -86400));  // before 1970
  EXPECT_TRUE(platform_set_file_time("link", 1000));
  struct stat info;
  ASSERT_EQ(stat("datei", &info), 0);
  EXPECT_EQ(info.st_mtime, 1234567890);  // the link's own time was set, not its target's
  ASSERT_EQ(stat("ordner", &info), 0);
  EXPECT_EQ(info.st_mtime, -86400);
  EXPECT_FALSE(platform_set_file_time("fehlt", 0));

  ASSERT_EQ(chmod("datei", 0640), 0);
  EXPECT_TRUE(platform_set_executable("datei"));
  ASSERT_EQ(stat("datei", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);  // an x beside each r
  EXPECT_FALSE(platform_set_executable("ordner"));
  EXPECT_FALSE(platform_set_executable("link"));
  EXPECT_FALSE(platform_set_executable("fehlt"));
}

TEST_F(FileServiceTest, AReplacedFileTakesTheOldBitsAndKeepsItsOwnExecutableBit) {
  write_file("alt", "old");
  ASSERT_EQ(chmod("alt", 0640), 0);
  write_file("neu", "new");
  ASSERT_EQ(chmod("neu", 0700), 0);
  EXPECT_TRUE(platform_file_replace("neu", "alt"));
  struct stat info;
  ASSERT_EQ(stat("alt", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  write_file("neu", "newer");
  ASSERT_EQ(chmod("neu", 0600), 0);
  EXPECT_TRUE(platform_file_replace("neu", "alt"));  // a plain new file: the old bits alone
  ASSERT_EQ(stat("alt", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_EQ(read_file("alt"), "newer");
}
