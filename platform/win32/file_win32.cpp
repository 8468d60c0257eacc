// File service on Windows. Names arrive in UTF-8 and go to the system's wide calls in
// UTF-16, so that every name the system can hold arrives intact; a name that is not valid
// UTF-8 is refused like a missing file. Sharing, access and the refusal of directories are the
// system's own. Every handle is a record on a list of this process's open files, so that a handle
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
#include <cstring>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "platform/open_file_list.h"
#include "platform/process.h"
#include "platform/win32/open_files.h"
#include "platform/win32/utf16.h"

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
HANDLE open_for_inspection(const wchar_t* name) {
  return CreateFileW(name, 0, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

/// Writes the final path of the open `handle` (the system's own spelling, links resolved)
/// into `buffer` of kMaxPathSize units. False when the system cannot tell it.
bool final_path(HANDLE handle, wchar_t* buffer) {
  DWORD n = GetFinalPathNameByHandleW(handle, buffer, kMaxPathSize, FILE_NAME_NORMALIZED);
  return n > 0 && n < kMaxPathSize;
}

/// True when the `a_length` units of `a` and the `b_length` units of `b` (-1: up to the
/// zero) spell the same name; file names compare without regard to case.
bool same_name(const wchar_t* a, int a_length, const wchar_t* b, int b_length) {
  return CompareStringOrdinal(a, a_length, b, b_length, TRUE) == CSTR_EQUAL;
}

/// True when `path` equals `directory`, a separator and `leaf`, case aside.
bool is_entry_of(const wchar_t* path, const wchar_t* directory, const wchar_t* leaf) {
  const int length = lstrlenW(directory);
  if (length == 0 || lstrlenW(path) < length || !same_name(path, length, directory, length))
    return false;
  path += length;
  if (directory[length - 1] != L'\\') {  // a root's final path ends with its separator already
    if (*path != L'\\') return false;
    ++path;
  }
  return same_name(path, -1, leaf, -1);
}

/// True when `file`, opened through `name`, is known to be another entry than the one of
/// that name in its directory: the name is a link the system followed. False when the
/// two are the same or the system cannot tell final paths; the reparse-point attribute is
/// then all there is to go by.
bool reached_through_link(HANDLE file, const wchar_t* name) {
  WidePath path;
  wchar_t* leaf = nullptr;
  DWORD n = GetFullPathNameW(name, kMaxPathSize, path.text, &leaf);
  if (n == 0 || n >= kMaxPathSize || !leaf || leaf == path.text) return false;
  // The long form of the name, so that a short alias is not taken for another entry.
  WidePath long_path;
  n = GetLongPathNameW(path.text, long_path.text, kMaxPathSize);
  if (n > 0 && n < kMaxPathSize) {
    wchar_t* separator = nullptr;
    for (wchar_t* c = long_path.text; *c; ++c)
      if (*c == L'\\' || *c == L'/') separator = c;
    if (separator && separator[1]) {
      CopyMemory(path.text, long_path.text, (n + 1) * sizeof(wchar_t));
      leaf = path.text + (separator - long_path.text) + 1;
    }
  }
  wchar_t saved = *leaf;
  *leaf = 0;  // the directory, its final separator kept so that a root stays a root
  // Links on the way to the directory are followed, as they are on the way to the file.
  HANDLE directory = CreateFileW(path.text, 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  *leaf = saved;
  if (directory == INVALID_HANDLE_VALUE) return false;
  WidePath directory_path;
  WidePath file_path;
  bool known = final_path(directory, directory_path.text) && final_path(file, file_path.text);
  CloseHandle(directory);
  return known && !is_entry_of(file_path.text, directory_path.text, leaf);
}

/// True when `name`, which the system could not find, is still listed in its directory: a
/// link that leads nowhere, on a system that follows links in every lookup (Wine shows its
/// Unix links so); a name that is not there at all is reported as not found here too.
bool listed_but_not_found(const wchar_t* name) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(name, &data);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return false;
  }
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

/// Opens `name` as CreateFileW does with `disposition`, except that a file is only ever
/// created new: an existing entry is opened as it is (emptied later, once it has been
/// checked), and a missing one is made with CREATE_NEW, which never follows a link, not
/// even one that leads nowhere. `*created` tells whether the handle is of a file made here.
HANDLE open_or_create(const wchar_t* name, DWORD desired, DWORD share, FileDisposition disposition,
                      DWORD flags, bool* created) {
  *created = true;
  if (disposition == FileDisposition::kCreateNew)
    return CreateFileW(name, desired, share, nullptr, CREATE_NEW, flags, nullptr);
  for (int round = 0; round < kOpenRounds; ++round) {
    *created = false;
    HANDLE handle = CreateFileW(name, desired, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE || disposition == FileDisposition::kOpenExisting ||
        GetLastError() != ERROR_FILE_NOT_FOUND)
      return handle;
    *created = true;
    handle = CreateFileW(name, desired, share, nullptr, CREATE_NEW, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  return INVALID_HANDLE_VALUE;
}

/// Checks the freshly opened `handle` of `name` (`created` when the open made the file): a
/// file on a disk, not a directory; for writing not a link, not read-only; emptied when
/// asked. False when the open must be refused.
bool accept_handle(HANDLE handle, const wchar_t* name, uint32_t access, FileDisposition disposition,
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

/// What the entry `name` (opened as `handle` for inspection) is, links not followed.
FileKind kind_of_open(HANDLE handle, const wchar_t* name) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info))
    return FileKind::kOther;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::kLink;
  // A directory too may be a link the system followed.
  if (reached_through_link(handle, name)) return FileKind::kLink;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return FileKind::kReadOnly;
  return FileKind::kRegular;
}

/// The kind of the entry `name`, links not followed.
FileKind file_kind(const wchar_t* name) {
  DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
    return listed_but_not_found(name) ? FileKind::kLink : FileKind::kMissing;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return FileKind::kLink;
  // Devices, pipes and the FIFOs some systems show have no attributes of their own or
  // attributes of a file: what the opened entry is decides.
  HANDLE handle = open_for_inspection(name);
  if (handle == INVALID_HANDLE_VALUE)
    return attributes == INVALID_FILE_ATTRIBUTES ? FileKind::kMissing : FileKind::kOther;
  const FileKind kind = kind_of_open(handle, name);
  CloseHandle(handle);
  return kind;
}

/// FILETIME of 1970-01-01 00:00 UTC: 100-nanosecond ticks since 1601-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000;
constexpr int64_t kTicksPerSecond = 10000000;
/// Seconds of the Unix clock that a FILETIME holds: from 1601 on, and below 2^63 ticks.
constexpr int64_t kEarliestFileTime = -kUnixEpochTicks / kTicksPerSecond;
constexpr int64_t kLatestFileTime = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond;

}  // namespace

PlatformFile platform_file_open(const char* name, uint32_t access, uint32_t share,
                                FileDisposition disposition) {
  WidePath wide;
  if (!name || !*name || !utf8_to_wide(name, &wide)) return kPlatformInvalidFile;
  auto* record = static_cast<PlatformFileRecord*>(std::malloc(sizeof(PlatformFileRecord)));
  if (!record) return kPlatformInvalidFile;
  // A link is read through, but opened as itself for writing, so that it can be refused.
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (access & kFileAccessWrite) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  if (access & kFileAccessSequential) flags |= FILE_FLAG_SEQUENTIAL_SCAN;
  bool created = false;
  HANDLE handle = open_or_create(wide.text, desired_access(access), share_mode(share), disposition,
                                 flags, &created);
  if (handle != INVALID_HANDLE_VALUE &&
      !accept_handle(handle, wide.text, access, disposition, created)) {
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

bool platform_file_read_at(PlatformFile file, uint64_t position, void* buffer, uint32_t count,
                           uint32_t* done) {
  // The record is read as it is, not looked up in the list of open files, which the other
  // thread may be changing; the offset travels with the read.
  *done = 0;
  if (!file || (!buffer && count > 0)) return false;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(position >> 32);
  DWORD read = 0;
  const BOOL ok = ReadFile(file->handle, buffer, count, &read, &at);
  *done = read;
  return ok != 0 || GetLastError() == ERROR_HANDLE_EOF;
}

bool platform_file_write(PlatformFile file, const void* data, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  PlatformFileRecord* r = open_record(file);
  if (!r || (!data && count > 0)) return false;
  const uint32_t allowed = file_faults_take_allowance(count);
  DWORD written = 0;
  BOOL ok = WriteFile(r->handle, data, allowed, &written, nullptr);
  if (done) *done = written;
  if (ok && allowed < count) SetLastError(ERROR_DISK_FULL);  // the test hook's full disk
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

bool platform_file_seek64(PlatformFile file, uint64_t position) {
  PlatformFileRecord* r = open_record(file);
  if (!r || !r->handle || position > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(r->handle, distance, nullptr, FILE_BEGIN) != 0;
}

uint64_t platform_file_size64(PlatformFile file) {
  PlatformFileRecord* r = open_record(file);
  LARGE_INTEGER size;
  if (!r || !r->handle || !GetFileSizeEx(r->handle, &size)) return UINT64_MAX;
  return static_cast<uint64_t>(size.QuadPart);
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
  WidePath wide;
  if (!name || !*name || !entry || !utf8_to_wide(name, &wide)) return false;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(wide.text, &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  entry->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->size = entry->is_directory ? 0 : (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  FindClose(search);
  return true;
}

DriveType platform_drive_type(const char* root) {
  WidePath wide;
  if (!root || !utf8_to_wide(root, &wide)) return kDriveNoRootDirectory;
  return static_cast<DriveType>(GetDriveTypeW(wide.text));
}

bool platform_file_delete(const char* name) {
  WidePath wide;
  if (!name || !*name || !utf8_to_wide(name, &wide)) return false;
  DWORD attributes = GetFileAttributesW(wide.text);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  // A reparse point is deleted as itself; a link shown as its file would be followed.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && file_kind(wide.text) == FileKind::kLink)
    return false;
  return DeleteFileW(wide.text) != 0;
}

FileKind platform_file_kind(const char* name) {
  WidePath wide;
  if (!name || !*name || !utf8_to_wide(name, &wide)) return FileKind::kMissing;
  return file_kind(wide.text);
}

bool platform_file_replace(const char* source, const char* target) {
  WidePath from_name;
  WidePath to_name;
  if (!source || !*source || !target || !*target || !utf8_to_wide(source, &from_name) ||
      !utf8_to_wide(target, &to_name))
    return false;
  const FileKind from = file_kind(from_name.text);
  if (from != FileKind::kRegular && from != FileKind::kReadOnly) return false;
  const FileKind old = file_kind(to_name.text);
  if (old != FileKind::kMissing && old != FileKind::kRegular) return false;
  if (old == FileKind::kRegular) {
    DWORD attributes = GetFileAttributesW(to_name.text);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    attributes &= kKeptAttributes;
    if (!SetFileAttributesW(from_name.text, attributes ? attributes : FILE_ATTRIBUTE_NORMAL))
      return false;
  }
  return MoveFileExW(from_name.text, to_name.text,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool platform_set_current_directory(const char* path) {
  WidePath wide;
  return path && *path && utf8_to_wide(path, &wide) && SetCurrentDirectoryW(wide.text) != 0;
}

bool platform_enter_directory(const char* name) {
  WidePath wide;
  return name && *name && utf8_to_wide(name, &wide) &&
         file_kind(wide.text) == FileKind::kDirectory && SetCurrentDirectoryW(wide.text) != 0;
}

bool platform_make_directory(const char* path) {
  WidePath wide;
  if (!path || !*path || !utf8_to_wide(path, &wide)) return false;
  if (CreateDirectoryW(wide.text, nullptr)) return true;
  // Something of that name was there already: only a directory that is no link will do.
  return GetLastError() == ERROR_ALREADY_EXISTS && file_kind(wide.text) == FileKind::kDirectory;
}

bool platform_set_file_time(const char* path, int64_t unix_seconds) {
  WidePath wide;
  if (!path || !*path || !utf8_to_wide(path, &wide) || unix_seconds < kEarliestFileTime ||
      unix_seconds > kLatestFileTime)
    return false;
  // Directories open only with backup semantics; a reparse point is opened as itself.
  HANDLE handle = CreateFileW(wide.text, FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const uint64_t ticks = static_cast<uint64_t>(unix_seconds * kTicksPerSecond + kUnixEpochTicks);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  // A link the system followed all the same would lend its time to what it leads to.
  const bool ok = GetFileType(handle) == FILE_TYPE_DISK &&
                  !reached_through_link(handle, wide.text) &&
                  SetFileTime(handle, nullptr, nullptr, &time) != 0;
  CloseHandle(handle);
  return ok;
}

bool platform_set_executable(const char* path) {
  // Windows has no executable bit: what may run is decided by the name's extension.
  return path && *path;
}

void win32_close_every_file() {
  for (OpenFileLink* l = open_file_list.head; l; l = l->next) {
    PlatformFileRecord* r = record_of(l);
    HANDLE handle = r->handle;
    r->handle = nullptr;
    if (handle) CloseHandle(handle);
  }
}

// ---- Placing files, and folders beneath a held one ---------------------------------------
//
// A new file is put in place by MoveFileExW without MOVEFILE_REPLACE_EXISTING, which
// refuses when any entry of the target's name exists.
//
// A held folder is a handle with read access that does not share deletion: while it is
// held, nobody can rename or remove the folder. Opening a name relative to a handle needs
// the native API, so a folder beneath a held one is found by its full path, which the
// system reports for the handle each time (wherever the folder is by then): the whole
// folder is opened at once, as itself when it is a reparse point, and taken only when it
// is a folder and not a reparse point and its final path is the held folder's followed by
// the parts, so that no link on the way was followed (some systems report a link as what
// it leads to and follow it: only the final path gives it away). A folder that is missing
// is found part by part in the same way, each part made where it may be, and held until
// the next one has been checked. The folder found is made current by that path while it
// is held.

struct PlatformFolderRecord {
  HANDLE handle;
};

namespace {

/// Access of a handle that holds a folder: reading its list counts for sharing, so that,
/// with kHeldFolderShare, nobody renames or removes the folder while the handle is open.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr DWORD kHeldFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

/// True for "" and for parts separated by '/', none of them empty, "." or "..", and none
/// with the system's own separator '\' or a ':' (a drive or a stream).
bool is_plain_relative(const char* relative) {
  if (!relative) return false;
  for (const char* part = relative; *part;) {
    size_t length = 0;
    for (; part[length] && part[length] != '/'; ++length)
      if (part[length] == '\\' || part[length] == ':') return false;
    const bool dots = part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'));
    if (length == 0 || dots || (part[length] && !part[length + 1])) return false;
    part += part[length] ? length + 1 : length;
  }
  return true;
}

/// Opens the folder at the full `path` with `access`, a reparse point as itself.
HANDLE open_folder_at(const wchar_t* path, DWORD access) {
  return CreateFileW(path, access, kHeldFolderShare, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

/// Writes the full path of the open folder `handle` into `path`, in the form current
/// folders take: without the "\\?\" of final paths (a share's "\\?\UNC\" becomes "\\").
/// False when the system cannot tell it.
bool folder_path(HANDLE handle, WidePath* path) {
  if (!final_path(handle, path->text)) return false;
  wchar_t* text = path->text;
  const wchar_t kLocal[] = L"\\\\?\\";
  const wchar_t kShare[] = L"\\\\?\\UNC\\";
  int skip = 0;
  if (CompareStringOrdinal(text, 8, kShare, 8, TRUE) == CSTR_EQUAL)
    skip = 6;  // keeps "\\" before the server
  else if (CompareStringOrdinal(text, 4, kLocal, 4, FALSE) == CSTR_EQUAL)
    skip = 4;
  if (skip == 6) text[6] = L'\\';
  const int length = lstrlenW(text + skip);
  MoveMemory(text, text + skip, (length + 1) * sizeof(wchar_t));
  return true;
}

/// True when the open `handle` is a folder, not a reparse point, whose full path is `path`
/// (case aside): it was not reached through a link.
bool is_folder_at(HANDLE handle, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION info;
  WidePath found;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && folder_path(handle, &found) &&
         same_name(found.text, -1, path, -1);
}

/// Opens the folder at `path` with `access` when it is a folder reached through no link;
/// when it is missing and `may_make`, makes it first. INVALID_HANDLE_VALUE otherwise.
HANDLE open_checked_folder(const wchar_t* path, DWORD access, bool may_make) {
  HANDLE handle = open_folder_at(path, access);
  if (handle == INVALID_HANDLE_VALUE && may_make && GetLastError() == ERROR_FILE_NOT_FOUND &&
      (CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS))
    handle = open_folder_at(path, access);
  if (handle != INVALID_HANDLE_VALUE && !is_folder_at(handle, path)) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  return handle;
}

/// Opens the folder at `path` (a held folder's path, then `first`, the offset of the first
/// part) part by part with `access` for the last: parts that start at `made_from` or
/// later are made where missing. INVALID_HANDLE_VALUE on failure.
HANDLE open_part_by_part(wchar_t* path, int first, int made_from, DWORD access) {
  HANDLE parent = INVALID_HANDLE_VALUE;  // held while the next part is made and checked
  for (int start = first;;) {
    int end = start;
    while (path[end] && path[end] != L'\\') ++end;
    const wchar_t kept = path[end];
    path[end] = 0;
    HANDLE part = open_checked_folder(path, kept ? kFolderAccess : access, start >= made_from);
    path[end] = kept;
    if (parent != INVALID_HANDLE_VALUE) CloseHandle(parent);
    if (part == INVALID_HANDLE_VALUE || !kept) return part;
    parent = part;
    start = end + 1;
  }
}

/// Opens the folder `relative` beneath the folder held by `base` with `access`, making the
/// parts from byte `existing` on where missing, and writes its full path into `path`.
/// INVALID_HANDLE_VALUE on failure.
HANDLE open_beneath(HANDLE base, const char* relative, size_t existing, DWORD access,
                    WidePath* path) {
  WidePath parts;
  if (!is_plain_relative(relative) || !utf8_to_wide(relative, &parts) || !folder_path(base, path))
    return INVALID_HANDLE_VALUE;
  int length = lstrlenW(path->text);
  if (parts.text[0] && length > 0 && path->text[length - 1] != L'\\') {
    if (length + 1 >= int(kMaxPathSize)) return INVALID_HANDLE_VALUE;
    path->text[length++] = L'\\';  // a root's path ends with its separator already
  }
  const int first = length;
  for (int i = 0; parts.text[i]; ++i) {
    if (length + 1 >= int(kMaxPathSize)) return INVALID_HANDLE_VALUE;
    path->text[length++] = parts.text[i] == L'/' ? L'\\' : parts.text[i];
  }
  path->text[length] = 0;
  // Where the parts that may be made start: after the units the first `existing` bytes
  // make ('/' stays where it is in the conversion).
  int made_from = INT32_MAX;
  if (existing < std::strlen(relative))
    made_from = first + MultiByteToWideChar(CP_UTF8, 0, relative, int(existing), nullptr, 0);
  HANDLE found = open_checked_folder(path->text, access, false);
  if (found == INVALID_HANDLE_VALUE && parts.text[0])
    found = open_part_by_part(path->text, first, made_from, access);
  return found;
}

}  // namespace

FilePlacement platform_file_place(const char* source, const char* target) {
  WidePath from_name;
  WidePath to_name;
  if (!source || !*source || !target || !*target || !utf8_to_wide(source, &from_name) ||
      !utf8_to_wide(target, &to_name))
    return FilePlacement::kFailed;
  const DWORD attributes = GetFileAttributesW(from_name.text);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return FilePlacement::kFailed;
  if (MoveFileExW(from_name.text, to_name.text, MOVEFILE_WRITE_THROUGH))
    return FilePlacement::kPlaced;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return FilePlacement::kTaken;
  // Some refusals name no reason of their own: anything at the name means it is taken.
  return file_kind(to_name.text) != FileKind::kMissing ? FilePlacement::kTaken
                                                       : FilePlacement::kFailed;
}

PlatformFolder platform_folder_hold(const char* path) {
  WidePath wide;
  if (!path || !*path || !utf8_to_wide(path, &wide)) return nullptr;
  // The caller's own folder: links on the way and at the end are followed.
  HANDLE handle = CreateFileW(wide.text, kFolderAccess, kHeldFolderShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* record = static_cast<PlatformFolderRecord*>(std::malloc(sizeof(PlatformFolderRecord)));
  if (!record || !GetFileInformationByHandle(handle, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    std::free(record);
    CloseHandle(handle);
    return nullptr;
  }
  record->handle = handle;
  return record;
}

void platform_folder_release(PlatformFolder folder) {
  if (!folder) return;
  CloseHandle(folder->handle);
  std::free(folder);
}

bool platform_folder_enter(PlatformFolder folder, const char* relative, size_t existing) {
  WidePath path;
  if (!folder) return false;
  HANDLE found = open_beneath(folder->handle, relative, existing, kFolderAccess, &path);
  if (found == INVALID_HANDLE_VALUE) return false;
  const bool entered = SetCurrentDirectoryW(path.text) != 0;  // while `found` holds it there
  CloseHandle(found);
  return entered;
}

bool platform_folder_set_time(PlatformFolder folder, const char* relative, int64_t unix_seconds) {
  if (unix_seconds < kEarliestFileTime || unix_seconds > kLatestFileTime) return false;
  HANDLE base = folder ? folder->handle : open_folder_at(L".", kFolderAccess);
  if (base == INVALID_HANDLE_VALUE) return false;
  WidePath path;
  HANDLE found = open_beneath(base, relative, SIZE_MAX, FILE_WRITE_ATTRIBUTES, &path);
  if (!folder) CloseHandle(base);
  if (found == INVALID_HANDLE_VALUE) return false;
  const uint64_t ticks = static_cast<uint64_t>(unix_seconds * kTicksPerSecond + kUnixEpochTicks);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const bool set = SetFileTime(found, nullptr, nullptr, &time) != 0;
  CloseHandle(found);
  return set;
}

FileFailure platform_file_last_failure() {
  const DWORD error = GetLastError();
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return FileFailure::no_space;
  if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
      error == ERROR_SHARING_VIOLATION)
    return FileFailure::permission;
  return FileFailure::other;
}

bool platform_free_space(const char* path, uint64_t* bytes) {
  if (file_faults_free_space(bytes)) return true;
  WidePath wide;
  ULARGE_INTEGER available{};
  if (!utf8_to_wide(path, &wide) || !GetDiskFreeSpaceExW(wide.text, &available, nullptr, nullptr))
    return false;
  *bytes = available.QuadPart;
  return true;
}

bool platform_current_directory(char* out, uint32_t size) {
  WidePath wide;
  const DWORD length = GetCurrentDirectoryW(kMaxPathSize, wide.text);
  if (!out || size == 0 || length == 0 || length >= kMaxPathSize) return false;
  const int written = wide_to_utf8(wide.text, length, out, size - 1);
  if (written < 0) return false;
  out[written] = 0;
  return true;
}
