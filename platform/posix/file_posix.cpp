// File service on POSIX. Every handle is a record on a list of this process's open files;
// the records carry the access and share mode of their open, and the device and inode of the
// file, so that sharing is decided among the handles of this process on the same file.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "platform/open_file_list.h"

struct PlatformFileRecord {
  OpenFileLink link;  ///< on the open file list; first, so a record and its link share an address
  int descriptor;
  uint32_t access;
  uint32_t share;
  dev_t device;
  ino_t inode;
  /// The descriptor's offset as this record moved it, or -1 when it is not known: a seek
  /// to where the descriptor stands already (reads one after another) needs no call.
  off_t position;
};

namespace {

constexpr uint32_t kAllAccess = kFileAccessRead | kFileAccessWrite;
constexpr mode_t kNewFileMode = 0666;       // before the umask
constexpr mode_t kNewDirectoryMode = 0777;  // before the umask

/// The record that starts with `link` (null for null).
PlatformFileRecord* record_of(OpenFileLink* link) {
  return reinterpret_cast<PlatformFileRecord*>(link);
}

/// The record of `file` when it is an open handle, else null.
PlatformFileRecord* open_record(PlatformFile file) {
  return record_of(open_file_list_find(file));
}

/// True when some open handle is on the file with this device and inode.
bool file_is_open(dev_t device, ino_t inode) {
  for (OpenFileLink* l = open_file_list.head; l; l = l->next) {
    const PlatformFileRecord* r = record_of(l);
    if (r->device == device && r->inode == inode) return true;
  }
  return false;
}

/// True when an open with `access` and `share` may stand beside every open handle on the
/// file: each side's access must be allowed by the other side's share mode.
bool sharing_allows(const struct stat& info, uint32_t access, uint32_t share) {
  for (OpenFileLink* l = open_file_list.head; l; l = l->next) {
    const PlatformFileRecord* r = record_of(l);
    if (r->device != info.st_dev || r->inode != info.st_ino) continue;
    if ((access & ~r->share) != 0 || (r->access & ~share) != 0) return false;
  }
  return true;
}

int open_flags(uint32_t access, FileDisposition disposition) {
  int flags = O_CLOEXEC | O_NOCTTY;
  // No wait on an existing fifo before it is refused. A file this open makes (O_EXCL) is
  // always a new regular file, so it needs no such care.
  if (disposition != FileDisposition::kCreateNew) flags |= O_NONBLOCK;
  if ((access & kAllAccess) == kAllAccess)
    flags |= O_RDWR;
  else if (access & kFileAccessWrite)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  if (disposition != FileDisposition::kOpenExisting) flags |= O_CREAT;
  // Made here or not at all: nothing of the name, not even a dangling link, may exist.
  if (disposition == FileDisposition::kCreateNew) flags |= O_EXCL;
  // Nothing is ever written through a symbolic link: a link at the name refuses the open.
  if (access & kFileAccessWrite) flags |= O_NOFOLLOW;
  return flags;
}

/// Checks the freshly opened descriptor: a regular file, allowed by sharing, emptied when
/// asked, blocking again. False when the open must be refused.
bool accept_descriptor(int fd, uint32_t access, uint32_t share, FileDisposition disposition,
                       struct stat* info) {
  if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) return false;
  // Sharing is decided before anything is emptied, so a refused open changes nothing.
  if (!sharing_allows(*info, access, share)) return false;
  if (disposition == FileDisposition::kCreateAlways && ::ftruncate(fd, 0) != 0) return false;
  if (disposition == FileDisposition::kCreateNew) return true;  // opened blocking already
  int flags = ::fcntl(fd, F_GETFL);
  return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

/// Moves the record's known offset past `moved` bytes of a read or write; after a failed
/// one the offset is not known.
void advance_position(PlatformFileRecord* r, bool ok, uint32_t moved) {
  r->position = ok && r->position >= 0 ? r->position + off_t(moved) : -1;
}

/// Moves `count` bytes through `transfer` (read or write), retrying after interruptions and
/// continuing after partial transfers. Stops early at the end of the file for reads.
template <typename Transfer>
bool transfer_all(Transfer transfer, uint32_t count, uint32_t* done) {
  uint32_t total = 0;
  bool ok = true;
  while (total < count) {
    ssize_t n = transfer(total, count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  if (done) *done = total;
  return ok;
}

bool has_wildcard(const char* s) {
  return std::strpbrk(s, "*?") != nullptr;
}

/// True when `name` matches `pattern`, in which * stands for any run of characters and ? for
/// any one character. Backtracks only to the last *, so it runs in linear-times-pattern time.
bool wildcard_match(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

/// Fills `entry` from the entry at `path`; a dangling link is reported as itself.
bool describe(const char* path, FileFindEntry* entry) {
  struct stat info;
  if (::stat(path, &info) != 0 && ::lstat(path, &info) != 0) return false;
  entry->is_directory = S_ISDIR(info.st_mode);
  entry->size = entry->is_directory ? 0 : static_cast<uint64_t>(info.st_size);
  return true;
}

/// Finds the smallest name (byte order) in `directory` that matches `pattern`, writing it to
/// `best` of NAME_MAX + 1 bytes. False when none matches.
bool smallest_match(const char* directory, const char* pattern, char* best) {
  DIR* dir = ::opendir(directory);
  if (!dir) return false;
  bool found = false;
  while (const dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    if (!wildcard_match(pattern, d->d_name)) continue;
    if (found && std::strcmp(d->d_name, best) >= 0) continue;
    size_t length = strnlen(d->d_name, NAME_MAX);
    std::memcpy(best, d->d_name, length);
    best[length] = 0;
    found = true;
  }
  ::closedir(dir);
  return found;
}

/// True for an existing regular file that nobody may write: such a file is read-only for
/// every user, the superuser included, as a file with the read-only attribute is.
bool is_read_only(const char* name) {
  struct stat info;
  return ::lstat(name, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0;
}

/// Fills `times` for utimensat or futimens: the access time kept, the modification time
/// `unix_seconds`. False when time_t cannot hold it.
bool modification_times(int64_t unix_seconds, struct timespec* times) {
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(unix_seconds);
  times[1].tv_nsec = 0;
  return static_cast<int64_t>(times[1].tv_sec) == unix_seconds;
}

}  // namespace

PlatformFile platform_file_open(const char* name, uint32_t access, uint32_t share,
                                FileDisposition disposition) {
  if (!name || !*name) return kPlatformInvalidFile;
  // A new file (O_EXCL) is refused by the open itself when anything of the name exists.
  if ((access & kFileAccessWrite) && disposition != FileDisposition::kCreateNew &&
      is_read_only(name))
    return kPlatformInvalidFile;
  int fd = ::open(name, open_flags(access, disposition), kNewFileMode);
  if (fd < 0) return kPlatformInvalidFile;
  struct stat info;
  auto* record = static_cast<PlatformFileRecord*>(std::malloc(sizeof(PlatformFileRecord)));
  if (!record || !accept_descriptor(fd, access, share, disposition, &info)) {
    std::free(record);
    ::close(fd);
    return kPlatformInvalidFile;
  }
  if (access & kFileAccessSequential) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *record = PlatformFileRecord{
      {nullptr}, fd, access & kAllAccess, share & kAllAccess, info.st_dev, info.st_ino, 0};
  open_file_list_add(&record->link);
  return record;
}

bool platform_file_read(PlatformFile file, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  PlatformFileRecord* r = open_record(file);
  if (!r || !(r->access & kFileAccessRead) || (!buffer && count > 0)) return false;
  auto* bytes = static_cast<char*>(buffer);
  uint32_t moved = 0;
  const bool ok = transfer_all(
      [&](uint32_t offset, uint32_t n) { return ::read(r->descriptor, bytes + offset, n); }, count,
      &moved);
  advance_position(r, ok, moved);
  if (done) *done = moved;
  return ok;
}

bool platform_file_read_at(PlatformFile file, uint64_t position, void* buffer, uint32_t count,
                           uint32_t* done) {
  // The record is read as it is, not looked up in the list of open files, which the other
  // thread may be changing; pread leaves the descriptor's offset where it was.
  *done = 0;
  if (!file || (!buffer && count > 0) || position > uint64_t(INT64_MAX)) return false;
  const int descriptor = file->descriptor;
  auto* bytes = static_cast<char*>(buffer);
  while (*done < count) {
    const ssize_t n = ::pread(descriptor, bytes + *done, count - *done, off_t(position + *done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *done += uint32_t(n);
  }
  return true;
}

bool platform_file_write(PlatformFile file, const void* data, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  PlatformFileRecord* r = open_record(file);
  if (!r || !(r->access & kFileAccessWrite) || (!data && count > 0)) return false;
  const auto* bytes = static_cast<const char*>(data);
  const uint32_t allowed = file_faults_take_allowance(count);
  uint32_t written = 0;
  bool ok = transfer_all(
      [&](uint32_t offset, uint32_t n) { return ::write(r->descriptor, bytes + offset, n); },
      allowed, &written);
  advance_position(r, ok, written);
  if (done) *done = written;
  if (ok && allowed < count) errno = ENOSPC;  // the test hook's full disk
  return ok && written == count;              // a write that stops short (a full disk) is a failure
}

uint32_t platform_file_seek(PlatformFile file, int32_t distance, FileSeekOrigin origin) {
  PlatformFileRecord* r = open_record(file);
  if (!r) return kFileQueryFailed;
  off_t base = 0;
  if (origin == FileSeekOrigin::kFromCurrent) base = ::lseek(r->descriptor, 0, SEEK_CUR);
  if (base < 0) return kFileQueryFailed;
  off_t target = base + distance;
  r->position = -1;
  if (target < 0 || ::lseek(r->descriptor, target, SEEK_SET) < 0) return kFileQueryFailed;
  r->position = target;
  return static_cast<uint32_t>(static_cast<uint64_t>(target));
}

uint32_t platform_file_size(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  struct stat info;
  if (!r || ::fstat(r->descriptor, &info) != 0) return kFileQueryFailed;
  return static_cast<uint32_t>(static_cast<uint64_t>(info.st_size));
}

bool platform_file_flush(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  if (!r) return false;
  int result;
  do {
    result = ::fsync(r->descriptor);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool platform_file_close(PlatformFile file) {
  PlatformFileRecord* r = record_of(open_file_list_remove(file));
  if (!r) return false;
  int result = ::close(r->descriptor);
  std::free(r);
  return result == 0;
}

bool platform_find_first(const char* name, FileFindEntry* entry) {
  if (!name || !*name || !entry) return false;
  const char* slash = std::strrchr(name, '/');
  const char* pattern = slash ? slash + 1 : name;
  if (!*pattern) return false;
  if (!has_wildcard(pattern)) return describe(name, entry);

  char directory[PATH_MAX];
  size_t directory_length = slash ? static_cast<size_t>(slash - name) + 1 : 0;
  if (directory_length + NAME_MAX + 1 > sizeof directory) return false;
  std::memcpy(directory, name, directory_length);
  directory[directory_length] = 0;
  char best[NAME_MAX + 1];
  if (!smallest_match(directory_length ? directory : ".", pattern, best)) return false;
  std::strcpy(directory + directory_length, best);
  return describe(directory, entry);
}

DriveType platform_drive_type(const char* /*root*/) {
  return kDriveNoRootDirectory;
}

bool platform_file_delete(const char* name) {
  struct stat info;
  if (!name || !*name || ::lstat(name, &info) != 0 || S_ISDIR(info.st_mode)) return false;
  // No open handle on the file shares deletion.
  if (file_is_open(info.st_dev, info.st_ino)) return false;
  return ::unlink(name) == 0;
}

FileKind platform_file_kind(const char* name) {
  struct stat info;
  if (!name || !*name || ::lstat(name, &info) != 0) return FileKind::kMissing;
  if (S_ISLNK(info.st_mode)) return FileKind::kLink;
  if (S_ISDIR(info.st_mode)) return FileKind::kDirectory;
  if (!S_ISREG(info.st_mode)) return FileKind::kOther;
  return (info.st_mode & 0222) == 0 ? FileKind::kReadOnly : FileKind::kRegular;
}

bool platform_file_replace(const char* source, const char* target) {
  struct stat from;
  if (!source || !*source || !target || !*target) return false;
  if (::lstat(source, &from) != 0 || !S_ISREG(from.st_mode)) return false;
  struct stat old;
  if (::lstat(target, &old) == 0) {
    if (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0) return false;
    // The new file takes the old one's owner where that is allowed (as the superuser), then
    // its permission bits, which a change of owner may have cleared.
    if (old.st_uid != from.st_uid || old.st_gid != from.st_gid)
      (void)::lchown(source, old.st_uid, old.st_gid);
    // The new file keeps an executable bit it was given (for each read bit of the result).
    const mode_t kept = old.st_mode & 07777;
    const mode_t executable = (from.st_mode & 0111) != 0 ? (kept & 0444) >> 2 : 0;
    if (::chmod(source, kept | executable) != 0) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  return ::rename(source, target) == 0;
}

bool platform_set_current_directory(const char* path) {
  return path && *path && ::chdir(path) == 0;
}

bool platform_enter_directory(const char* name) {
  if (!name || !*name) return false;
    // Opened without following a link, then entered through the descriptor: what is entered
    // is the directory that was opened, whatever the name leads to by then.
#ifdef O_PATH
  const int fd = ::open(name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
#else
  const int fd = ::open(name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
#endif
  if (fd < 0) return false;
  const bool entered = ::fchdir(fd) == 0;
  ::close(fd);
  return entered;
}

bool platform_file_seek64(PlatformFile file, uint64_t position) {
  PlatformFileRecord* r = open_record(file);
  if (!r || position > static_cast<uint64_t>(INT64_MAX)) return false;
  const auto target = static_cast<off_t>(position);
  if (r->position == target) return true;
  r->position = -1;
  if (::lseek(r->descriptor, target, SEEK_SET) < 0) return false;
  r->position = target;
  return true;
}

uint64_t platform_file_size64(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  struct stat info;
  if (!r || ::fstat(r->descriptor, &info) != 0 || info.st_size < 0) return UINT64_MAX;
  return static_cast<uint64_t>(info.st_size);
}

bool platform_make_directory(const char* path) {
  if (!path || !*path) return false;
  // Most folders exist already (every entry names all of its folders): one look answers.
  struct stat info;
  if (::lstat(path, &info) == 0) return S_ISDIR(info.st_mode);
  if (errno != ENOENT) return false;
  if (::mkdir(path, kNewDirectoryMode) == 0) return true;
  // Made by someone else since the look: only a folder will do.
  return errno == EEXIST && ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool platform_set_file_time(const char* path, int64_t unix_seconds) {
  struct timespec times[2];
  return path && *path && modification_times(unix_seconds, times) &&
         ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool platform_set_executable(const char* path) {
  struct stat info;
  if (!path || !*path || ::lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const mode_t mode = info.st_mode & 07777;
  return ::chmod(path, mode | ((mode & 0444) >> 2)) == 0;
}

// ---- Placing files, and folders beneath a held one ---------------------------------------
//
// A new file is put in place by a rename that refuses to replace (renameat2 with
// RENAME_NOREPLACE). Where the kernel or the file system lacks it, the file gets the target
// as a second name (link, which never replaces either) and loses its first; where the file
// system has no hard links either, the name is looked at just before an ordinary rename,
// which leaves a moment in which a file that appears would be replaced.
//
// A folder beneath a held one is found in one call where the kernel confines lookups
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS: no link anywhere, no way out),
// otherwise part by part, each part opened in the one before without following a link
// (O_NOFOLLOW | O_DIRECTORY) and made there (mkdirat) when missing. A failed confined
// lookup goes part by part too, which decides: it alone makes missing parts, and it gives
// the same answer for everything else.

struct PlatformFolderRecord {
  int descriptor;
};

namespace {

/// How a folder is opened when it is only entered or looked up in: without read access
/// where the system allows, which a folder one may only pass through needs.
#ifdef O_PATH
constexpr int kFolderPlace = O_PATH;
#else
constexpr int kFolderPlace = O_RDONLY;
#endif
/// Flags of every lookup of a part: a folder, not a link, not inherited by programs run.
constexpr int kPartLookup = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

/// Set once the kernel has said it has no confined lookup: every lookup goes part by part.
bool confined_lookup_missing;

/// True for "" and for parts separated by '/', none of them empty, "." or "..".
bool is_plain_relative(const char* relative) {
  if (!relative) return false;
  for (const char* part = relative; *part;) {
    size_t length = 0;
    while (part[length] && part[length] != '/') ++length;
    const bool dots = part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'));
    if (length == 0 || dots || (part[length] && !part[length + 1])) return false;
    part += part[length] ? length + 1 : length;
  }
  return true;
}

/// Opens the folder `relative` beneath `base` with `mode` in one confined lookup; -1 when
/// it fails, and when the kernel lacks such lookups.
int open_confined(int base, const char* relative, int mode) {
#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
  if (confined_lookup_missing || file_faults_ways() != FileSystemWays::kNewest) return -1;
  struct open_how how {};
  how.flags = static_cast<uint64_t>(mode | kPartLookup);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = ::syscall(SYS_openat2, base, relative, &how, sizeof how);
  if (fd < 0 && errno == ENOSYS) confined_lookup_missing = true;
  return static_cast<int>(fd);
#else
  (void)base;
  (void)relative;
  (void)mode;
  return -1;
#endif
}

/// Opens the folder `relative` (not "") beneath `base` part by part, the last part with
/// `mode`; parts that start at byte `existing` or later are made where missing. -1 when a
/// part is missing and may not be made, is a link or not a folder, or cannot be opened.
int open_part_by_part(int base, const char* relative, size_t existing, int mode) {
  char name[NAME_MAX + 1];
  int folder = base;  // the caller's; the ones opened on the way are closed here
  for (const char* part = relative;;) {
    const char* end = std::strchr(part, '/');
    const size_t length = end ? static_cast<size_t>(end - part) : std::strlen(part);
    int next = -1;
    if (length <= NAME_MAX) {
      std::memcpy(name, part, length);
      name[length] = 0;
      const int flags = (end ? kFolderPlace : mode) | kPartLookup;
      next = ::openat(folder, name, flags);
      const bool may_make = static_cast<size_t>(part - relative) >= existing;
      if (next < 0 && errno == ENOENT && may_make &&
          (::mkdirat(folder, name, kNewDirectoryMode) == 0 || errno == EEXIST))
        next = ::openat(folder, name, flags);  // made here, or by someone else meanwhile
    }
    if (folder != base) ::close(folder);
    if (next < 0 || !end) return next;
    folder = next;
    part = end + 1;
  }
}

/// Opens the folder `relative` beneath `base` (AT_FDCWD: the current folder) with `mode`,
/// making the parts from byte `existing` on where missing. -1 on failure.
int open_beneath(int base, const char* relative, size_t existing, int mode) {
  if (!is_plain_relative(relative)) return -1;
  if (!*relative) return ::openat(base, ".", mode | O_DIRECTORY | O_CLOEXEC);
  const int fd = open_confined(base, relative, mode);
  return fd >= 0 ? fd : open_part_by_part(base, relative, existing, mode);
}

/// Renames `source` to `target` unless something of that name exists: 0, or -1 with errno
/// (EEXIST: taken; EINVAL or ENOSYS: the file system or the kernel cannot do it).
int rename_without_replacing(const char* source, const char* target) {
  if (file_faults_ways() != FileSystemWays::kNewest) {
    errno = EINVAL;
    return -1;
  }
#if defined(RENAME_NOREPLACE)
  return ::renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE, which older C libraries do not name
  return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, source, AT_FDCWD, target, kNoReplace));
#else
  errno = ENOSYS;
  return -1;
#endif
}

/// Gives the file `source` the second name `target`, then takes the first away: 0, or -1
/// with errno (EEXIST: taken; EPERM, EOPNOTSUPP or ENOSYS: no hard links there).
int link_then_unlink(const char* source, const char* target) {
  if (file_faults_ways() == FileSystemWays::kWithoutHardLinks) {
    errno = EPERM;
    return -1;
  }
  if (::link(source, target) != 0) return -1;
  (void)::unlink(source);  // the file is in place under both names already
  return 0;
}

}  // namespace

FilePlacement platform_file_place(const char* source, const char* target) {
  struct stat info;
  if (!source || !*source || !target || !*target || ::lstat(source, &info) != 0 ||
      !S_ISREG(info.st_mode))
    return FilePlacement::kFailed;
  if (rename_without_replacing(source, target) == 0) return FilePlacement::kPlaced;
  if (errno == EEXIST) return FilePlacement::kTaken;
  if (errno != EINVAL && errno != ENOSYS) return FilePlacement::kFailed;
  if (link_then_unlink(source, target) == 0) return FilePlacement::kPlaced;
  if (errno == EEXIST) return FilePlacement::kTaken;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return FilePlacement::kFailed;
  if (::lstat(target, &info) == 0) return FilePlacement::kTaken;
  if (errno != ENOENT) return FilePlacement::kFailed;
  return ::rename(source, target) == 0 ? FilePlacement::kPlaced : FilePlacement::kFailed;
}

PlatformFolder platform_folder_hold(const char* path) {
  if (!path || !*path) return nullptr;
  const int fd = ::open(path, kFolderPlace | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto* record = static_cast<PlatformFolderRecord*>(std::malloc(sizeof(PlatformFolderRecord)));
  if (!record) {
    ::close(fd);
    return nullptr;
  }
  record->descriptor = fd;
  return record;
}

void platform_folder_release(PlatformFolder folder) {
  if (!folder) return;
  ::close(folder->descriptor);
  std::free(folder);
}

bool platform_folder_enter(PlatformFolder folder, const char* relative, size_t existing) {
  if (!folder || !relative) return false;
  if (!*relative) return ::fchdir(folder->descriptor) == 0;
  const int fd = open_beneath(folder->descriptor, relative, existing, kFolderPlace);
  if (fd < 0) return false;
  const bool entered = ::fchdir(fd) == 0;
  ::close(fd);
  return entered;
}

bool platform_folder_set_time(PlatformFolder folder, const char* relative, int64_t unix_seconds) {
  struct timespec times[2];
  if (!modification_times(unix_seconds, times)) return false;
  // Opened for reading: a descriptor that only names a place does not take a time.
  const int fd = open_beneath(folder ? folder->descriptor : AT_FDCWD, relative, SIZE_MAX, O_RDONLY);
  if (fd < 0) return false;
  const bool set = ::futimens(fd, times) == 0;
  ::close(fd);
  return set;
}

FileFailure platform_file_last_failure() {
  if (errno == ENOSPC || errno == EDQUOT) return FileFailure::no_space;
  if (errno == EACCES || errno == EPERM || errno == EROFS) return FileFailure::permission;
  return FileFailure::other;
}

bool platform_free_space(const char* path, uint64_t* bytes) {
  if (file_faults_free_space(bytes)) return true;
  struct statvfs status {};
  if (!path || ::statvfs(path, &status) != 0) return false;
  *bytes = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
  return true;
}

bool platform_current_directory(char* out, uint32_t size) {
  return out && size > 0 && ::getcwd(out, size) != nullptr;
}
