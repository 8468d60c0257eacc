// Temporary folders on POSIX. A new folder is made by mkdir, which fails on any existing
// name (a link too), so a name guessed and planted by someone else is never taken over.
//
// A tree is removed through descriptors only: each folder is opened in the one above it
// without following a link (O_NOFOLLOW | O_DIRECTORY), its entries are removed relative to
// it (unlinkat), and the walk never changes the current folder. A folder renamed or
// replaced by a link meanwhile is therefore never followed out of the tree. Folders are
// read with getdents64 into a buffer on the stack, not through a DIR stream, which
// allocates: the removal uses only calls that are safe in a signal handler, so that an
// interrupt can remove a folder a run was filling.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr const char* kDefaultTempBase = "/tmp";
constexpr const char* kCacheInHome = "/.cache";
constexpr int kFolderOpen = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

/// Bytes a folder's entries are read in at a time, on each level's stack.
constexpr size_t kListingBufferSize = 1024;

/// Bytes of randomness behind the name's digits (two digits a byte).
constexpr uint32_t kRandomBytes = kTempFolderRandomDigits / 2;

/// A path under construction, bounded by kMaxPathSize.
struct PathText {
  char text[kMaxPathSize];
  size_t length;
};

/// Sets `*path` to `text`; false when it does not fit.
bool path_set(PathText* path, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= sizeof path->text) return false;
  std::memcpy(path->text, text, length + 1);
  path->length = length;
  return true;
}

/// Appends `text` to `*path`; false when it does not fit.
bool path_append(PathText* path, const char* text) {
  const size_t length = std::strlen(text);
  if (path->length + length >= sizeof path->text) return false;
  std::memcpy(path->text + path->length, text, length + 1);
  path->length += length;
  return true;
}

/// True when `path` is absolute and names a folder (links followed: the user's choice).
bool is_folder(const char* path) {
  struct stat info;
  return path && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

/// True when programs on the file system of `folder` may be run.
bool allows_running(const char* folder) {
  struct statvfs status {};
  return ::statvfs(folder, &status) == 0 && (status.f_flag & ST_NOEXEC) == 0;
}

/// Fills `bytes` with random bytes: from the kernel where it gives them, else from the
/// clock, the process id and a counter mixed together (the name need not be secret to be
/// safe, as it is created exclusively; it only should not be easy to guess).
void random_bytes(unsigned char* bytes, size_t count) {
#if __has_include(<sys/random.h>)
  if (::getrandom(bytes, count, GRND_NONBLOCK) == static_cast<ssize_t>(count)) return;
#endif
  static uint64_t counter;
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t state = (uint64_t(now.tv_sec) << 32) ^ uint64_t(now.tv_nsec) ^
                   (uint64_t(::getpid()) << 16) ^ ++counter;
  for (size_t i = 0; i < count; ++i) {
    state += 0x9E3779B97F4A7C15u;  // a 64-bit mixing step of the golden ratio
    uint64_t z = (state ^ (state >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    bytes[i] = static_cast<unsigned char>(z ^ (z >> 31));
  }
}

/// Makes the folder `path` with `mode`; true when it was made or a folder of that name
/// (not a link) is there.
bool make_or_find_folder(const char* path, mode_t mode) {
  if (::mkdir(path, mode) == 0) return true;
  struct stat info;
  return errno == EEXIST && ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

/// Makes the folder `path` (absolute) and its missing parents, the ones made with mode
/// 0700; true when it is a folder afterwards.
bool make_with_parents(PathText* path) {
  for (size_t i = 1; i < path->length; ++i) {
    if (path->text[i] != '/') continue;
    path->text[i] = 0;
    const bool made = is_folder(path->text) || make_or_find_folder(path->text, kPrivateFolderMode);
    path->text[i] = '/';
    if (!made) return false;
  }
  return is_folder(path->text) || make_or_find_folder(path->text, kPrivateFolderMode);
}

/// Sets `*base` to the user's cache folder, made where missing; false when there is none.
bool cache_folder(PathText* base) {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && cache[0] == '/') {
    if (!path_set(base, cache)) return false;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/' || !path_set(base, home) || !path_append(base, kCacheInHome))
      return false;
  }
  return make_with_parents(base);
}

/// Gives the new folder `path` mode 0700 exactly (the umask may have taken bits away), by
/// a descriptor of the folder itself. False when it is not the folder this process made.
bool make_private(const char* path) {
  const int fd = ::open(path, kFolderOpen);
  if (fd < 0) return false;
  struct stat info;
  const bool ok =
      ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() &&
      ((info.st_mode & 07777) == kPrivateFolderMode || ::fchmod(fd, kPrivateFolderMode) == 0);
  ::close(fd);
  return ok;
}

// ---- Removal -----------------------------------------------------------------------------

/// Opens the folder `name` in the folder `parent`, never through a link. A folder this
/// user may not read gets read and search rights first (not through a link either).
int open_subfolder(int parent, const char* name) {
  int fd = ::openat(parent, name, kFolderOpen);
  if (fd < 0 && errno == EACCES &&
      ::fchmodat(parent, name, kPrivateFolderMode, AT_SYMLINK_NOFOLLOW) == 0)
    fd = ::openat(parent, name, kFolderOpen);
  return fd;
}

bool remove_folder_contents(int folder, uint32_t depth);

/// Removes the entry `name` of the folder `parent` (on the device `device`): a folder with
/// its contents, anything else (a link too) as itself.
bool remove_entry(int parent, const char* name, dev_t device, uint32_t depth) {
  struct stat info;
  if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return ::unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  if (depth >= kTreeRemoveMaxDepth) return false;
  const int fd = open_subfolder(parent, name);
  if (fd < 0) return false;
  // What was opened decides, not what was looked at before: it may have been replaced.
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || opened.st_dev != device) {
    ::close(fd);  // another file system mounted here is not entered
    return false;
  }
  const bool emptied = remove_folder_contents(fd, depth + 1);  // closes fd
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 && emptied;
}

/// Removes everything in the open `folder`, which it closes; `depth` levels lie above it.
bool remove_folder_contents(int folder, uint32_t depth) {
  struct stat info;
  if (::fstat(folder, &info) != 0) {
    ::close(folder);
    return false;
  }
  // Entries of a folder without write right cannot be removed: the folder is ours to take.
  if ((info.st_mode & kPrivateFolderMode) != kPrivateFolderMode)
    (void)::fchmod(folder, (info.st_mode & 07777) | kPrivateFolderMode);
  alignas(8) char listing[kListingBufferSize];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::getdents64(folder, listing, sizeof listing);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = ok && got == 0;
      break;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(listing + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (!remove_entry(folder, name, info.st_dev, depth)) ok = false;
    }
  }
  ::close(folder);
  return ok;
}

}  // namespace

bool platform_temp_folder_make(char* out, uint32_t size, bool need_exec) {
  if (!out || size == 0) return false;
  out[0] = 0;
  PathText base;
  const char* tmpdir = std::getenv("TMPDIR");
  if (!path_set(&base, is_folder(tmpdir) ? tmpdir : kDefaultTempBase)) return false;
  if (need_exec && !allows_running(base.text) &&
      (!cache_folder(&base) || !allows_running(base.text)))
    return false;
  while (base.length > 1 && base.text[base.length - 1] == '/') base.text[--base.length] = 0;
  if (base.length > 1 && !path_append(&base, "/")) return false;
  if (!path_append(&base, kTempFolderPrefix)) return false;
  static constexpr char kDigits[] = "0123456789abcdef";
  char name[kTempFolderRandomDigits + 1];
  for (uint32_t attempt = 0; attempt < kTempFolderAttempts; ++attempt) {
    unsigned char random[kRandomBytes];
    random_bytes(random, sizeof random);
    for (uint32_t i = 0; i < kRandomBytes; ++i) {
      name[2 * i] = kDigits[random[i] >> 4];
      name[2 * i + 1] = kDigits[random[i] & 15];
    }
    name[kTempFolderRandomDigits] = 0;
    PathText path = base;
    if (!path_append(&path, name) || path.length >= size) return false;
    if (::mkdir(path.text, kPrivateFolderMode) != 0) {
      if (errno == EEXIST) continue;  // taken: draw another name
      return false;
    }
    if (!make_private(path.text)) {
      (void)::rmdir(path.text);
      return false;
    }
    std::memcpy(out, path.text, path.length + 1);
    return true;
  }
  return false;
}

bool platform_tree_remove(const char* path) {
  PathText parent;
  if (!path || !*path || !path_set(&parent, path)) return false;
  while (parent.length > 1 && parent.text[parent.length - 1] == '/')
    parent.text[--parent.length] = 0;
  // The folder is opened in its parent by its last name, so that a link there is refused
  // and the final removal takes the very entry that was emptied.
  char* slash = std::strrchr(parent.text, '/');
  const char* name = slash ? slash + 1 : parent.text;
  if (!*name || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  int parent_fd = AT_FDCWD;
  if (slash) {
    *slash = 0;
    parent_fd =
        ::open(slash == parent.text ? "/" : parent.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent_fd < 0) return false;
  }
  const int fd = ::openat(parent_fd, name, kFolderOpen);
  bool ok = false;
  if (fd >= 0) {
    ok = remove_folder_contents(fd, 0);  // closes fd
    ok = ::unlinkat(parent_fd, name, AT_REMOVEDIR) == 0 && ok;
  }
  if (parent_fd != AT_FDCWD) ::close(parent_fd);
  return ok;
}
