// The Windows file service with names beyond ASCII, folders, modification times and
// positions beyond 4 GiB.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/file.h"
#include "testing/scratch_directory_fixture.h"

namespace {

using WindowsFileTest = ScratchDirectoryTest;

constexpr uint32_t kReadWrite = kFileAccessRead | kFileAccessWrite;

const char* utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

PlatformFile create_new(const char* name) {
  return platform_file_open(name, kReadWrite, kFileShareNone, FileDisposition::kCreateNew);
}

/// Makes `name` through the platform layer with `content`.
bool make_file(const char* name, const std::string& content) {
  PlatformFile file = create_new(name);
  if (file == kPlatformInvalidFile) return false;
  uint32_t done = 0;
  const bool written =
      platform_file_write(file, content.data(), static_cast<uint32_t>(content.size()), &done);
  return platform_file_close(file) && written;
}

/// The content of `name`, read through the platform layer.
std::string content_of(const char* name) {
  PlatformFile file =
      platform_file_open(name, kFileAccessRead, kFileShareRead, FileDisposition::kOpenExisting);
  if (file == kPlatformInvalidFile) return "<missing>";
  char buffer[256];
  uint32_t done = 0;
  platform_file_read(file, buffer, sizeof buffer, &done);
  platform_file_close(file);
  return std::string(buffer, done);
}

/// The name of the one entry matching `pattern`, as the system spells it in its directory.
std::wstring listed_name(const wchar_t* pattern) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return L"<none>";
  std::wstring name = data.cFileName;
  if (FindNextFileW(search, &data)) name = L"<several>";
  FindClose(search);
  return name;
}

/// The modification time of `name` in seconds since 1970, or -1.
int64_t modification_time(const wchar_t* name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name, GetFileExInfoStandard, &data)) return -1;
  const int64_t ticks = static_cast<int64_t>((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                             data.ftLastWriteTime.dwLowDateTime);
  return (ticks - 116444736000000000) / 10000000;
}

TEST_F(WindowsFileTest, NamesBeyondAsciiArriveIntact) {
  ASSERT_TRUE(platform_make_directory(utf8(u8"Grüße")));
  ASSERT_TRUE(make_file(utf8(u8"Grüße/€.txt"), "euro"));
  ASSERT_TRUE(make_file(utf8(u8"Übersicht.txt"), "overview"));
  ASSERT_TRUE(make_file(utf8(u8"日本語.txt"), "cjk"));
  EXPECT_EQ(listed_name(L"Gr*e"), L"Grüße");
  EXPECT_EQ(listed_name(L"Grüße\\*.txt"), L"€.txt");
  EXPECT_EQ(listed_name(L"*bersicht.txt"), L"Übersicht.txt");
  EXPECT_EQ(listed_name(L"*語.txt"), L"日本語.txt");

  EXPECT_EQ(content_of(utf8(u8"Grüße\\€.txt")), "euro");
  EXPECT_EQ(platform_file_kind(utf8(u8"Grüße")), FileKind::kDirectory);
  EXPECT_EQ(platform_file_kind(utf8(u8"日本語.txt")), FileKind::kRegular);
  FileFindEntry entry;
  ASSERT_TRUE(platform_find_first(utf8(u8"Übersicht.*"), &entry));
  EXPECT_EQ(entry.size, 8u);

  ASSERT_TRUE(make_file(utf8(u8"neu-€.tmp"), "new overview"));
  EXPECT_TRUE(platform_file_replace(utf8(u8"neu-€.tmp"), utf8(u8"Übersicht.txt")));
  EXPECT_EQ(content_of(utf8(u8"Übersicht.txt")), "new overview");
  EXPECT_EQ(listed_name(L"neu-*"), L"<none>");
  EXPECT_TRUE(platform_file_delete(utf8(u8"日本語.txt")));
  EXPECT_EQ(platform_file_kind(utf8(u8"日本語.txt")), FileKind::kMissing);

  EXPECT_TRUE(platform_set_current_directory(utf8(u8"Grüße")));
  EXPECT_EQ(content_of(utf8(u8"€.txt")), "euro");
}

TEST_F(WindowsFileTest, NamesThatAreNotUtf8AreRefusedAndMakeNothing) {
  const char* bad = "bad\xFF.txt";
  EXPECT_EQ(create_new(bad), kPlatformInvalidFile);
  EXPECT_FALSE(platform_make_directory("dir\xE2\x82"));
  EXPECT_EQ(platform_file_kind(bad), FileKind::kMissing);
  EXPECT_FALSE(platform_file_delete(bad));
  EXPECT_FALSE(platform_set_file_time(bad, 0));
  FileFindEntry entry;
  EXPECT_FALSE(platform_find_first("*\xC0\xAF", &entry));
  EXPECT_FALSE(platform_set_current_directory("\xED\xA0\x80"));
  ASSERT_TRUE(make_file("good", "kept"));
  EXPECT_FALSE(platform_file_replace("good", bad));
  auto entries = std::filesystem::directory_iterator(".");
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);  // nothing else was made
}

TEST_F(WindowsFileTest, MakeDirectoryTakesOnlyAFolderThatIsThere) {
  EXPECT_TRUE(platform_make_directory("made"));
  EXPECT_EQ(platform_file_kind("made"), FileKind::kDirectory);
  EXPECT_TRUE(platform_make_directory("made"));  // there already
  EXPECT_TRUE(platform_make_directory("made/inner/"));
  EXPECT_FALSE(platform_make_directory("missing/inner"));
  write_file("file", "x");
  EXPECT_FALSE(platform_make_directory("file"));
  EXPECT_EQ(read_file("file"), "x");
  EXPECT_FALSE(platform_make_directory(""));
  EXPECT_FALSE(platform_make_directory(nullptr));

  // Entering: only a folder; the current folder stays on a refusal.
  EXPECT_FALSE(platform_enter_directory("file"));
  EXPECT_FALSE(platform_enter_directory("missing"));
  ASSERT_TRUE(platform_enter_directory("made"));
  EXPECT_EQ(platform_file_kind("inner"), FileKind::kDirectory);
  ASSERT_TRUE(platform_set_current_directory(".."));
  EXPECT_EQ(read_file("file"), "x");
}

TEST_F(WindowsFileTest, ModificationTimesOfFilesAndFolders) {
  ASSERT_TRUE(make_file(utf8(u8"Übersicht.txt"), "x"));
  ASSERT_TRUE(platform_make_directory(utf8(u8"Grüße")));
  // 1970, a day before it, beyond 2038, and a common one
  for (int64_t seconds : {int64_t{0}, int64_t{-86400}, int64_t{4102444800}, int64_t{1700000000}}) {
    EXPECT_TRUE(platform_set_file_time(utf8(u8"Übersicht.txt"), seconds));
    EXPECT_EQ(modification_time(L"Übersicht.txt"), seconds);
    EXPECT_TRUE(platform_set_file_time(utf8(u8"Grüße"), seconds));
    EXPECT_EQ(modification_time(L"Grüße"), seconds);
  }
  EXPECT_EQ(content_of(utf8(u8"Übersicht.txt")), "x");
  EXPECT_FALSE(platform_set_file_time("missing", 0));
  // Before 1601 and beyond what 64 bits of ticks hold: refused, the time kept.
  EXPECT_FALSE(platform_set_file_time(utf8(u8"Übersicht.txt"), -11644473601));
  EXPECT_FALSE(platform_set_file_time(utf8(u8"Übersicht.txt"), INT64_MAX / 1000));
  EXPECT_EQ(modification_time(L"Übersicht.txt"), 1700000000);
  EXPECT_TRUE(platform_set_executable(utf8(u8"Übersicht.txt")));
}

TEST_F(WindowsFileTest, PositionsAndSizesBeyondFourGiB) {
  constexpr uint64_t kFar = (uint64_t{1} << 32) + 5;
  PlatformFile file = create_new("large");
  ASSERT_NE(file, kPlatformInvalidFile);
  EXPECT_EQ(platform_file_size64(file), 0u);
  ASSERT_TRUE(platform_file_seek64(file, kFar));
  uint32_t done = 0;
  ASSERT_TRUE(platform_file_write(file, "end", 3, &done));
  EXPECT_EQ(platform_file_size64(file), kFar + 3);
  EXPECT_EQ(platform_file_size(file), 8u);  // the low 32 bits
  ASSERT_TRUE(platform_file_seek64(file, kFar + 1));
  EXPECT_FALSE(platform_file_seek64(file, UINT64_MAX));  // refused, the position kept
  char buffer[4] = {};
  ASSERT_TRUE(platform_file_read(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "nd");
  EXPECT_TRUE(platform_file_close(file));
  EXPECT_FALSE(platform_file_seek64(file, 0));
  EXPECT_EQ(platform_file_size64(file), UINT64_MAX);
}

}  // namespace
