// File service: opening files by name with an access, a share mode and a creation
// disposition; reading, writing, positioning and measuring an open file; finding an entry
// by name, asking for a drive's type, deleting a file and changing the current directory.
//
// Sharing: while a handle is open, its share mode says which accesses other opens of the
// same file may ask for. An open fails when its access is not allowed by the share mode of
// a handle already open on the file, or when its own share mode does not allow the access
// of such a handle. A file open with any handle cannot be deleted.
//
// Every operation on a handle checks it first: a handle that is not open (closed, never
// issued, null or the invalid value) makes the operation fail and touches nothing.
#pragma once

#include <cstddef>
#include <cstdint>

/// An open file of the platform: opaque and pointer-sized, never null when open.
using PlatformFile = struct PlatformFileRecord*;

/// The value an open returns when the platform refused it (all bits set).
inline PlatformFile const kPlatformInvalidFile = reinterpret_cast<PlatformFile>(~uintptr_t{0});

/// Access asked for by an open: a combination of these bits.
inline constexpr uint32_t kFileAccessRead = 1;
inline constexpr uint32_t kFileAccessWrite = 2;
/// A hint beside the access: the file will be read from start to end once, so the system
/// may read ahead and need not keep what was read.
inline constexpr uint32_t kFileAccessSequential = 4;

/// Share mode of an open: the accesses other opens may ask for while it is open.
inline constexpr uint32_t kFileShareNone = 0;
inline constexpr uint32_t kFileShareRead = 1;
inline constexpr uint32_t kFileShareWrite = 2;

/// What an open does about the file's existence.
enum class FileDisposition {
  kOpenExisting,  ///< the file must exist
  kOpenAlways,    ///< an existing file is opened as it is, a missing one created empty
  kCreateAlways,  ///< the file is created, or an existing one emptied
  kCreateNew,     ///< the file is created; the open fails when anything of the name exists
};

/// Origin of a position change.
enum class FileSeekOrigin {
  kFromStart,
  kFromCurrent,
};

/// Result of a position change or size query that failed (all 32 bits set).
inline constexpr uint32_t kFileQueryFailed = 0xFFFFFFFF;

/// Types of drives, as the drive-type query reports them.
enum DriveType : uint32_t {
  kDriveUnknown = 0,          ///< the type cannot be determined
  kDriveNoRootDirectory = 1,  ///< no such drive
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveOptical = 5,
  kDriveRamDisk = 6,
};

/// The first entry matched by a find.
struct FileFindEntry {
  uint64_t size;      ///< full size in bytes (0 for a directory)
  bool is_directory;  ///< the entry is a directory
};

/// What a name stands for, links not followed.
enum class FileKind {
  kMissing,    ///< nothing of that name (or the name cannot be looked up)
  kRegular,    ///< a regular file that may be written
  kReadOnly,   ///< a regular file nobody may write (the read-only attribute on Windows)
  kLink,       ///< a symbolic link or other reparse point, whatever it points to
  kDirectory,  ///< a directory
  kOther,      ///< a FIFO, device, socket or anything else that is not a regular file
};

/// Opens the regular file `name` with `access` (kFileAccess* bits), `share` (kFileShare*
/// bits) and `disposition`, positioned at 0. Created files get the usual permissions.
/// Returns the new handle, or kPlatformInvalidFile when the file is missing (for
/// kOpenExisting), exists (for kCreateNew), is not a regular file, access is denied, or
/// sharing forbids the open. An open for writing refuses a symbolic link or reparse point
/// at the name and a file nobody may write; no open waits (a FIFO is refused at once).
PlatformFile platform_file_open(const char* name, uint32_t access, uint32_t share,
                                FileDisposition disposition);

/// Reads up to `count` bytes at `position` of the open `file` into `buffer`; `*done`
/// receives the number read (fewer near the end). Callable from a second thread while the
/// first opens, closes, reads and writes other files: it neither looks at nor changes what
/// the layer keeps of its open files, so the caller keeps `file` open meanwhile and is the
/// only thread that reads it. Where the system moves the handle's position with the read
/// (Windows), the position is unspecified afterwards. False on failure.
bool platform_file_read_at(PlatformFile file, uint64_t position, void* buffer, uint32_t count,
                           uint32_t* done);

/// Reads up to `count` bytes at the file's position into `buffer` and advances the position;
/// `*done` receives the number read (fewer near the end, 0 at the end). False on failure
/// (the handle is not open or not open for reading); `*done` then counts what was read
/// before it.
bool platform_file_read(PlatformFile file, void* buffer, uint32_t count, uint32_t* done);

/// Writes `count` bytes of `data` at the file's position and advances the position;
/// `*done` receives the number written. False on failure.
bool platform_file_write(PlatformFile file, const void* data, uint32_t count, uint32_t* done);

/// Moves the position by `distance` from `origin` and returns the low 32 bits of the new
/// position. A move before the start of the file fails and leaves the position unchanged;
/// a move past the end is allowed. kFileQueryFailed on failure.
uint32_t platform_file_seek(PlatformFile file, int32_t distance, FileSeekOrigin origin);

/// The low 32 bits of the file's size, kFileQueryFailed on failure.
uint32_t platform_file_size(PlatformFile file);

/// Writes the file's data through to the storage device. False on failure.
bool platform_file_flush(PlatformFile file);

/// Closes the handle. False when it was not open.
bool platform_file_close(PlatformFile file);

/// Finds the first entry matching `name`, whose last component may hold the wildcards * (any
/// run of characters, also none) and ? (any one character); every other character stands for
/// itself. Of several matches the first in the platform's order decides (on POSIX: byte order
/// of the names, "." and ".." left out). False when nothing matches, the name is empty or it
/// ends with a separator.
bool platform_find_first(const char* name, FileFindEntry* entry);

/// The type of the drive named by `root` (a letter and a colon, usually followed by a
/// separator). Systems without drive letters report kDriveNoRootDirectory.
DriveType platform_drive_type(const char* root);

/// Deletes the file `name`. False when it is missing, is a directory, is open, or the
/// platform refuses.
bool platform_file_delete(const char* name);

/// The kind of the entry at `name`, a link reported as kLink and not followed.
FileKind platform_file_kind(const char* name);

/// Replaces `target` by the regular file `source` in one step, the two in the same
/// directory: afterwards `target` names the new file, or, on failure, still the old one, and
/// no other name is touched. `source` first takes the permission bits (POSIX) or attributes
/// (Windows) of an existing `target`; on POSIX an executable `source` stays executable (an x
/// bit beside each r bit it takes). False, with nothing changed, when `target` exists and
/// is not a regular file that may be written (kind other than kMissing and kRegular), when
/// `source` is not a regular file, or when the platform refuses; `source` is kept then.
bool platform_file_replace(const char* source, const char* target);

/// Makes `path` the current directory of the process. False on failure.
bool platform_set_current_directory(const char* path);

/// Makes the directory `name`, inside the current one, the current directory, when it is a
/// directory and not a link or reparse point. False otherwise; the current directory stays.
bool platform_enter_directory(const char* name);

// ---- Services of named archives (self-extractors) ---------------------------------------
//
// Names are UTF-8 throughout; the Windows back end converts them to UTF-16 and uses the
// wide calls, so that any name arrives intact.

/// Moves the position to `position` bytes from the start, also beyond 4 GiB. False on
/// failure (the position is unchanged then).
bool platform_file_seek64(PlatformFile file, uint64_t position);

/// The file's full size in bytes; UINT64_MAX on failure.
uint64_t platform_file_size64(PlatformFile file);

/// Creates the directory `path`, whose parent must exist. True when it was created or a
/// directory (not a link or reparse point) of that name exists already; false otherwise,
/// also when a link of that name exists, whatever it points to.
bool platform_make_directory(const char* path);

/// Sets the modification time of the file or directory `path` (a link is not followed) to
/// `unix_seconds` since 1970-01-01 UTC. False on failure.
bool platform_set_file_time(const char* path, int64_t unix_seconds);

/// Makes the regular file `path` executable by whoever may read it (POSIX: an x bit beside
/// each r bit). Windows has no such bit: true without a change. False on failure.
bool platform_set_executable(const char* path);

// ---- Placing new files and resolving folders beneath a held one -------------------------
//
// A run that extracts holds its output folder open and finds every entry's folder from it,
// part by part, never through a link and never from a folder it stood in before: a folder
// renamed or replaced by a link meanwhile is not followed out of the output folder. The
// folder found is made current, so that the file calls above reach the entry by its last
// part. A new file is put in place only when nothing has taken its name meanwhile.

/// What a no-replace move did.
enum class FilePlacement {
  kPlaced,  ///< the file has the target name now; the source name is gone
  kTaken,   ///< something of the target name exists (a link too, whatever it leads to);
            ///< nothing was changed
  kFailed,  ///< the platform refused; nothing was changed
};

/// Gives the regular file `source` the name `target` (in the same folder), in one step and
/// only when nothing of that name exists at that moment: a file that has appeared at
/// `target` since it was looked at is never replaced. The file keeps its permission bits
/// (a new file's: 0666, or 0777 once made executable, less the umask) and attributes.
FilePlacement platform_file_place(const char* source, const char* target);

/// A folder held open: names resolved from it reach the folder that was opened, wherever
/// it has been moved since. Opaque; null when there is none.
using PlatformFolder = struct PlatformFolderRecord*;

/// Opens the folder `path` and holds it (links in `path` are followed: it is the caller's
/// own choice of folder). Null when it is not a folder or cannot be opened.
PlatformFolder platform_folder_hold(const char* path);

/// Lets go of a held folder; null is ignored.
void platform_folder_release(PlatformFolder folder);

/// Makes the folder `relative` beneath the held `folder` the current folder. `relative` has
/// parts separated by '/' (none for "", the held folder itself), none of them empty, "." or
/// "..". Every part is looked up in the one before it, from the held folder on, and none
/// may be a link or reparse point (nor, on Windows, reached through one). The first
/// `existing` bytes of `relative` (whole parts; SIZE_MAX: all of it) must be folders that
/// exist; the parts after them are made where they are missing. False when a part is
/// missing and may not be made, is a link or anything but a folder, or the platform
/// refuses; the current folder stays where it was then.
bool platform_folder_enter(PlatformFolder folder, const char* relative, size_t existing);

/// Sets the modification time of the folder `relative` beneath the held `folder` (null: the
/// current folder) to `unix_seconds` since 1970-01-01 UTC, through a handle of the folder
/// found as platform_folder_enter finds it (nothing is made): never through a link, the
/// last part included. False when it is not such a folder or the time cannot be set.
bool platform_folder_set_time(PlatformFolder folder, const char* relative, int64_t unix_seconds);

/// Why a file call failed, as far as a user can act on it.
enum class FileFailure : uint8_t {
  other,       ///< any other cause
  no_space,    ///< the disk or the user's quota is full
  permission,  ///< the system refused access
};

/// The cause of the last failed file call of this thread (taken from the system's error
/// value, which a later call may change: ask right after the failure).
FileFailure platform_file_last_failure();

/// The bytes this user may still write on the file system that holds `path`, in
/// `*bytes`; false when the system cannot tell.
bool platform_free_space(const char* path, uint64_t* bytes);

/// The current folder's full path in UTF-8, zero-terminated in `out` of `size` bytes;
/// false when it is unknown or does not fit.
bool platform_current_directory(char* out, uint32_t size);
