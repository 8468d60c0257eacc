// Temporary folders: new private folders where the environment says, and the removal of a
// tree that never follows a link out of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/process.h"
#include "platform/temp_folder.h"
#include "testing/scratch_directory_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

/// Sets the environment variable `name` to `value` (null: removes it) until destroyed.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    set(value);
  }
  ~ScopedVariable() { set(had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void set(const char* value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name_.c_str(), value);  // what the system's own lookups see
    _putenv_s(name_.c_str(), value ? value : "");
#else
    if (value)
      setenv(name_.c_str(), value, 1);
    else
      unsetenv(name_.c_str());
#endif
  }
  std::string name_;
  std::string old_;
  bool had_ = false;
};

/// The variable that names the temporary folder's base.
#if defined(_WIN32)
constexpr const char* kTempVariable = "TMP";
#else
constexpr const char* kTempVariable = "TMPDIR";
#endif

using TempFolderTest = ScratchDirectoryTest;

/// True when `folder` is a folder whose name is the prefix and random digits, in `base`.
::testing::AssertionResult is_new_folder_in(const std::string& folder, const std::string& base) {
  const std::string start = base + kPathSeparator + kTempFolderPrefix;
  if (folder.compare(0, start.size(), start) != 0 ||
      folder.size() != start.size() + kTempFolderRandomDigits)
    return ::testing::AssertionFailure() << folder << " is not a new name in " << base;
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(folder, error)))
    return ::testing::AssertionFailure() << folder << " is not a folder";
#if !defined(_WIN32)
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || (info.st_mode & 07777) != 0700) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "0%o", static_cast<unsigned>(info.st_mode & 07777));
    return ::testing::AssertionFailure() << folder << " has mode " << mode;
  }
#endif
  return ::testing::AssertionSuccess();
}

TEST_F(TempFolderTest, EachCallMakesANewPrivateFolderInTheTemporaryBase) {
  ScopedVariable base(kTempVariable, directory_.c_str());
#if !defined(_WIN32)
  const mode_t old_mask = ::umask(0277);  // leaves the owner neither write nor search
#endif
  char first[kMaxPathSize];
  char second[kMaxPathSize];
  const bool made_first = platform_temp_folder_make(first, sizeof first, false);
  const bool made_second = platform_temp_folder_make(second, sizeof second, true);
#if !defined(_WIN32)
  ::umask(old_mask);
#endif
  ASSERT_TRUE(made_first && made_second);
  EXPECT_NE(std::string(first), std::string(second));
  EXPECT_TRUE(is_new_folder_in(first, directory_));
  EXPECT_TRUE(is_new_folder_in(second, directory_));
  EXPECT_TRUE(platform_tree_remove(first));
  EXPECT_TRUE(platform_tree_remove(second));
  EXPECT_FALSE(exists(first));
  EXPECT_FALSE(exists(second));

  // A buffer too small for the path: nothing is made.
  char small[8];
  EXPECT_FALSE(platform_temp_folder_make(small, sizeof small, false));
  EXPECT_TRUE(fs::is_empty(directory_));
}

#if !defined(_WIN32)
TEST_F(TempFolderTest, ProgramsToRunGoToTheCacheWhenTheBaseMayNotRunThemAndMountsAreNotEntered) {
  if (::getuid() != 0)
    GTEST_SKIP() << "mounting a file system without the right to run "
                    "programs needs root";
  const std::string mount = in_scratch("tree/noexec");
  ASSERT_EQ(mkdir(in_scratch("tree").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(mount.c_str(), 0700), 0);
  const std::string command = "mount -t tmpfs -o noexec,size=1m tmpfs '" + mount + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "tmpfs cannot be mounted here";
  const std::string cache = in_scratch("home/cache");  // neither part exists yet
  {
    ScopedVariable base(kTempVariable, mount.c_str());
    ScopedVariable xdg("XDG_CACHE_HOME", cache.c_str());
    char plain[kMaxPathSize];
    char runnable[kMaxPathSize];
    EXPECT_TRUE(platform_temp_folder_make(plain, sizeof plain, false));
    EXPECT_TRUE(is_new_folder_in(plain, mount));
    ASSERT_TRUE(platform_temp_folder_make(runnable, sizeof runnable, true));
    EXPECT_TRUE(is_new_folder_in(runnable, cache));
    struct stat info {};
    EXPECT_EQ(::stat(cache.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_TRUE(platform_tree_remove(runnable));
  }
  // Another file system mounted inside a tree is not entered.
  write_file(mount + "/kept", "kept");
  EXPECT_FALSE(platform_tree_remove(in_scratch("tree").c_str()));
  EXPECT_EQ(read_file(mount + "/kept"), "kept");
  EXPECT_EQ(std::system(("umount '" + mount + "'").c_str()), 0);
}
#endif

/// One entry of a tree to remove: a folder, a file, a read-only file or a link.
struct TreeEntry {
  enum Kind { kFolder, kFile, kReadOnlyFile, kFolderLink, kFileLink } kind;
  const char* name;    ///< relative to the scratch folder, '/' between parts
  const char* target;  ///< a link's target (made absolute when it starts with '@')
};

/// A tree with files, nested, empty and read-only entries and links out of it; the entries
/// of "outside" must survive its removal.
const TreeEntry kTree[] = {
    {TreeEntry::kFolder, "outside", nullptr},
    {TreeEntry::kFile, "outside/kept", nullptr},
    {TreeEntry::kFile, "outside-file", nullptr},
    {TreeEntry::kFolder, "tree", nullptr},
    {TreeEntry::kFile, "tree/a", nullptr},
    {TreeEntry::kFolder, "tree/sub", nullptr},
    {TreeEntry::kFolder, "tree/sub/deeper", nullptr},
    {TreeEntry::kFile, "tree/sub/deeper/b", nullptr},
    {TreeEntry::kReadOnlyFile, "tree/sub/read-only", nullptr},
    {TreeEntry::kFolder, "tree/empty", nullptr},
    {TreeEntry::kFolderLink, "tree/to-outside", "@outside"},
    {TreeEntry::kFileLink, "tree/sub/to-file", "@outside-file"},
    {TreeEntry::kFolderLink, "tree/sub/deeper/up", "../.."},
#if !defined(_WIN32)
    {TreeEntry::kFolderLink, "tree/to-root", "/"},
    {TreeEntry::kFileLink, "tree/dangling", "nowhere"},
#endif
};

TEST_F(TempFolderTest, RemovalTakesTheTreeAndLeavesWhatItsLinksLeadTo) {
  int links_made = 0;
  for (const TreeEntry& entry : kTree) {
    const std::string name = native_path(entry.name);
    std::error_code error;
    switch (entry.kind) {
      case TreeEntry::kFolder:
        ASSERT_TRUE(fs::create_directory(name, error)) << name;
        break;
      case TreeEntry::kFile:
      case TreeEntry::kReadOnlyFile:
        write_file(name, entry.name);
        if (entry.kind == TreeEntry::kReadOnlyFile)
          fs::permissions(name,
                          fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                          fs::perm_options::remove, error);
        ASSERT_FALSE(error) << name;
        break;
      case TreeEntry::kFolderLink:
      case TreeEntry::kFileLink: {
        const std::string target =
            entry.target[0] == '@' ? in_scratch(entry.target + 1) : native_path(entry.target);
        if (entry.kind == TreeEntry::kFolderLink)
          fs::create_directory_symlink(target, name, error);
        else
          fs::create_symlink(target, name, error);
#if defined(_WIN32)
        // Making links may need a right the user lacks; the rest is tested all the same.
        if (error) continue;
#endif
        ASSERT_FALSE(error) << name << ": " << error.message();
        ++links_made;
        break;
      }
    }
  }
  if (links_made == 0) std::printf("note: no links could be made here\n");

  // A link at the path itself is refused, and so is anything but a folder.
  std::error_code error;
  fs::create_directory_symlink(in_scratch("tree"), "tree-link", error);
  if (!error) {
    EXPECT_FALSE(platform_tree_remove(in_scratch("tree-link").c_str()));
    EXPECT_TRUE(exists("tree-link"));
  }
  EXPECT_FALSE(platform_tree_remove(in_scratch("outside-file").c_str()));
  EXPECT_FALSE(platform_tree_remove(in_scratch("missing").c_str()));
  EXPECT_TRUE(exists(native_path("tree/sub/deeper/b")));

  EXPECT_TRUE(platform_tree_remove((in_scratch("tree") + kPathSeparator).c_str()));
  EXPECT_FALSE(exists("tree"));
  EXPECT_EQ(read_file(native_path("outside/kept")), "outside/kept");
  EXPECT_EQ(read_file("outside-file"), "outside-file");
#if !defined(_WIN32)
  EXPECT_EQ(::access("/", F_OK), 0);
#endif
}

}  // namespace
