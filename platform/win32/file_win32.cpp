// File service on Windows. Sharing, access and the refusal of directories are the system's
// own. Every handle is a record on a list of this process's open files, so that a handle
// that is not open (closed, never issued, null or the invalid value) is refused before the
// system sees it: a closed handle's value may already belong to another object.
//
// Nothing is written through a link. A reparse point (symbolic link, junction) is opened as
// itself and refused by its attribute. Some systems report a symbolic link to a file as the
// file it leads to and follow it in every call (Wine does so for the Unix links it shows):
// there the file's final path, which the system resolves, gives the link away, because it
// is not the directory's final path followed by the name.
#include <windows.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "platform/open_file_list.h"
#include "platform/process.h"
#include "platform/win32/open_files.h"

struct PlatformFileRecord {
  OpenFileLink link;  ///< on the open file list; first, so a record and its link share an address
  HANDLE volatile handle;  // null once closed by win32_close_every_file
};

namespace {

/// The record that starts with `link` (null for null).
PlatformFileRecord* record_of(OpenFileLink* link) {
  return reinterpret_cast<PlatformFileRecord*>(link);
}

/// The record of `file` when it is an open handle, else null.
PlatformFileRecord* open_record(PlatformFile file) {
  return record_of(open_file_list_find(file));
}

DWORD desired_access(uint32_t access) {
  DWORD desired = 0;
  if (access & kFileAccessRead) desired |= GENERIC_READ;
  if (access & kFileAccessWrite) desired |= GENERIC_WRITE;
  return desired;
}

DWORD share_mode(uint32_t share) {
  DWORD mode = 0;
  if (share & kFileShareRead) mode |= FILE_SHARE_READ;
  if (share & kFileShareWrite) mode |= FILE_SHARE_WRITE;
  return mode;
}

DWORD move_method(FileSeekOrigin origin) {
  return origin == FileSeekOrigin::kFromCurrent ? FILE_CURRENT : FILE_BEGIN;
}

/// Every share mode: an inspection must not stand in the way of anybody's open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// Attributes a replacement takes over from the file it replaces. Read-only is not among
/// them (a read-only file is never replaced), nor offline, which describes where the old
/// file's data was kept.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_TEMPORARY;

/// Rounds of "open the existing file, else create a new one" before an open gives up: a
/// second round covers a file made or removed by someone else in between; a name that is
/// neither there to open nor free to create is a link leading nowhere.
constexpr int kOpenRounds = 2;

/// Opens `name` for inspection only: no access (so no share mode stands in the way),
/// directories too, a reparse point as itself. INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE open_for_inspection(const char* name) {
  return CreateFileA(name, 0, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

/// Writes the final path of the open `handle` (the system's own spelling, links resolved)
/// into `buffer` of kMaxPathSize bytes. False when the system cannot tell it.
bool final_path(HANDLE handle, char* buffer) {
  DWORD n = GetFinalPathNameByHandleA(handle, buffer, kMaxPathSize, FILE_NAME_NORMALIZED);
  return n > 0 && n < kMaxPathSize;
}

/// ASCII letters folded to upper case; file names compare without regard to case.
char folded(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// True when `path` equals `directory`, a separator and `leaf`, case aside.
bool is_entry_of(const char* path, const char* directory, const char* leaf) {
  while (*directory && folded(*path) == folded(*directory)) ++path, ++directory;
  if (*directory) return false;
  if (path[-1] != '\\') {  // a root's final path ends with its separator already
    if (*path != '\\') return false;
    ++path;
  }
  while (*leaf && folded(*path) == folded(*leaf)) ++path, ++leaf;
  return *path == 0 && *leaf == 0;
}

/// True when `file`, opened through `name`, is known to be another entry than the one of
/// that name in its directory: the name is a link the system followed. False when the
/// two are the same or the system cannot tell final paths; the reparse-point attribute is
/// then all there is to go by.
bool reached_through_link(HANDLE file, const char* name) {
  char path[kMaxPathSize];
  char* leaf = nullptr;
  DWORD n = GetFullPathNameA(name, kMaxPathSize, path, &leaf);
  if (n == 0 || n >= kMaxPathSize || !leaf || leaf == path) return false;
  // The long form of the name, so that a short alias is not taken for another entry.
  char long_path[kMaxPathSize];
  n = GetLongPathNameA(path, long_path, kMaxPathSize);
  if (n > 0 && n < kMaxPathSize) {
    char* separator = nullptr;
    for (char* c = long_path; *c; ++c)
      if (*c == '\\' || *c == '/') separator = c;
    if (separator && separator[1]) {
      CopyMemory(path, long_path, n + 1);
      leaf = path + (separator - long_path) + 1;
    }
  }
  char saved = *leaf;
  *leaf = 0;  // the directory, its final separator kept so that a root stays a root
  // Links on the way to the directory are followed, as they are on the way to the file.
  HANDLE directory =
      CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  *leaf = saved;
  if (directory == INVALID_HANDLE_VALUE) return false;
  char directory_path[kMaxPathSize];
  char file_path[kMaxPathSize];
  bool known = final_path(directory, directory_path) && final_path(file, file_path);
  CloseHandle(directory);
  return known && !is_entry_of(file_path, directory_path, leaf);
}

/// True when `name`, which the system could not find, is still listed in its directory: a
/// link that leads nowhere, on a system that follows links in every lookup (Wine shows its
/// Unix links so); a name that is not there at all is reported as not found here too.
bool listed_but_not_found(const char* name) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(name, &data);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return false;
  }
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

/// Opens `name` as CreateFileA does with `disposition`, except that a file is only ever
/// created new: an existing entry is opened as it is (emptied later, once it has been
/// checked), and a missing one is made with CREATE_NEW, which never follows a link, not
/// even one that leads nowhere. `*created` tells whether the handle is of a file made here.
HANDLE open_or_create(const char* name, DWORD desired, DWORD share, FileDisposition disposition,
                      DWORD flags, bool* created) {
  *created = true;
  if (disposition == FileDisposition::kCreateNew)
    return CreateFileA(name, desired, share, nullptr, CREATE_NEW, flags, nullptr);
  for (int round = 0; round < kOpenRounds; ++round) {
    *created = false;
    HANDLE handle = CreateFileA(name, desired, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE || disposition == FileDisposition::kOpenExisting ||
        GetLastError() != ERROR_FILE_NOT_FOUND)
      return handle;
    *created = true;
    handle = CreateFileA(name, desired, share, nullptr, CREATE_NEW, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  return INVALID_HANDLE_VALUE;
}

/// Checks the freshly opened `handle` of `name` (`created` when the open made the file): a
/// file on a disk, not a directory; for writing not a link, not read-only; emptied when
/// asked. False when the open must be refused.
bool accept_handle(HANDLE handle, const char* name, uint32_t access, FileDisposition disposition,
                   bool created) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (access & kFileAccessWrite) {
    // Read-only is refused here too: some systems let a privileged user write such a file.
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))
      return false;
    // A file made by this open stands at the name itself.
    if (!created && reached_through_link(handle, name)) return false;
  }
  // The handle stands at 0, so its end is set there.
  return disposition != FileDisposition::kCreateAlways || SetEndOfFile(handle) != 0;
}

}  // namespace

PlatformFile platform_file_open(const char* name, uint32_t access, uint32_t share,
                                FileDisposition disposition) {
  if (!name || !*name) return kPlatformInvalidFile;
  auto* record = static_cast<PlatformFileRecord*>(std::malloc(sizeof(PlatformFileRecord)));
  if (!record) return kPlatformInvalidFile;
  // A link is read through, but opened as itself for writing, so that it can be refused.
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (access & kFileAccessWrite) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  if (access & kFileAccessSequential) flags |= FILE_FLAG_SEQUENTIAL_SCAN;
  bool created = false;
  HANDLE handle =
      open_or_create(name, desired_access(access), share_mode(share), disposition, flags, &created);
  if (handle != INVALID_HANDLE_VALUE &&
      !accept_handle(handle, name, access, disposition, created)) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    std::free(record);
    return kPlatformInvalidFile;
  }
  record->handle = handle;
  open_file_list_add(&record->link);
  return record;
}

bool platform_file_read(PlatformFile file, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  PlatformFileRecord* r = open_record(file);
  if (!r || (!buffer && count > 0)) return false;
  DWORD read = 0;
  BOOL ok = ReadFile(r->handle, buffer, count, &read, nullptr);
  if (done) *done = read;
  return ok != 0;
}

bool platform_file_write(PlatformFile file, const void* data, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  PlatformFileRecord* r = open_record(file);
  if (!r || (!data && count > 0)) return false;
  const uint32_t allowed = file_faults_take_allowance(count);
  DWORD written = 0;
  BOOL ok = WriteFile(r->handle, data, allowed, &written, nullptr);
  if (done) *done = written;
  return ok != 0 && written == count;  // a write that stops short (a full disk) is a failure
}

uint32_t platform_file_seek(PlatformFile file, int32_t distance, FileSeekOrigin origin) {
  PlatformFileRecord* r = open_record(file);
  if (!r) return kFileQueryFailed;
  return SetFilePointer(r->handle, distance, nullptr, move_method(origin));
}

uint32_t platform_file_size(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  if (!r) return kFileQueryFailed;
  return GetFileSize(r->handle, nullptr);
}

bool platform_file_flush(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  return r && r->handle && FlushFileBuffers(r->handle) != 0;
}

bool platform_file_close(PlatformFile file) {
  PlatformFileRecord* r = record_of(open_file_list_remove(file));
  if (!r) return false;
  HANDLE handle = r->handle;
  std::free(r);
  return handle && CloseHandle(handle) != 0;
}

bool platform_find_first(const char* name, FileFindEntry* entry) {
  if (!name || !*name || !entry) return false;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(name, &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  entry->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->size = entry->is_directory ? 0 : (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  FindClose(search);
  return true;
}

DriveType platform_drive_type(const char* root) {
  if (!root) return kDriveNoRootDirectory;
  return static_cast<DriveType>(GetDriveTypeA(root));
}

bool platform_file_delete(const char* name) {
  if (!name || !*name) return false;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  // A reparse point is deleted as itself; a link shown as its file would be followed.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && platform_file_kind(name) == FileKind::kLink)
    return false;
  return DeleteFileA(name) != 0;
}

FileKind platform_file_kind(const char* name) {
  if (!name || !*name) return FileKind::kMissing;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
    return listed_but_not_found(name) ? FileKind::kLink : FileKind::kMissing;
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::kLink;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  }
  // Devices, pipes and the FIFOs some systems show have no attributes of their own or
  // attributes of a file: what the opened entry is decides.
  HANDLE handle = open_for_inspection(name);
  if (handle == INVALID_HANDLE_VALUE)
    return attributes == INVALID_FILE_ATTRIBUTES ? FileKind::kMissing : FileKind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  FileKind kind = FileKind::kOther;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      kind = FileKind::kLink;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      kind = FileKind::kDirectory;
    else if (reached_through_link(handle, name))
      kind = FileKind::kLink;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      kind = FileKind::kReadOnly;
    else
      kind = FileKind::kRegular;
  }
  CloseHandle(handle);
  return kind;
}

bool platform_file_replace(const char* source, const char* target) {
  if (!source || !*source || !target || !*target) return false;
  const FileKind from = platform_file_kind(source);
  if (from != FileKind::kRegular && from != FileKind::kReadOnly) return false;
  const FileKind old = platform_file_kind(target);
  if (old != FileKind::kMissing && old != FileKind::kRegular) return false;
  if (old == FileKind::kRegular) {
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    attributes &= kKeptAttributes;
    if (!SetFileAttributesA(source, attributes ? attributes : FILE_ATTRIBUTE_NORMAL)) return false;
  }
  return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool platform_set_current_directory(const char* path) {
  return path && *path && SetCurrentDirectoryA(path) != 0;
}

void win32_close_every_file() {
  for (OpenFileLink* l = open_file_list.head; l; l = l->next) {
    PlatformFileRecord* r = record_of(l);
    HANDLE handle = r->handle;
    r->handle = nullptr;
    if (handle) CloseHandle(handle);
  }
}
