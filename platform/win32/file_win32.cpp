// File service on Windows. Sharing, access and the refusal of directories are the system's
// own. Every handle is a record on a list of this process's open files, so that a handle
// that is not open (closed, never issued, null or the invalid value) is refused before the
// system sees it: a closed handle's value may already belong to another object.
#include <windows.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/win32/open_files.h"

struct PlatformFileRecord {
  PlatformFileRecord* next;
  HANDLE volatile handle;  // null once closed by win32_close_every_file
};

namespace {

/// The file service's record: every handle this process has open.
struct FileService {
  PlatformFileRecord* open_files;
};

FileService file_service;

/// The record of `file` when it is an open handle, else null. The handle is compared with
/// the list and never read through before it is found there.
PlatformFileRecord* open_record(PlatformFile file) {
  for (PlatformFileRecord* r = file_service.open_files; r; r = r->next) {
    if (r == file) return r;
  }
  return nullptr;
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

DWORD creation_disposition(FileDisposition disposition) {
  switch (disposition) {
    case FileDisposition::kOpenAlways:
      return OPEN_ALWAYS;
    case FileDisposition::kCreateAlways:
      return CREATE_ALWAYS;
    case FileDisposition::kOpenExisting:
    default:
      return OPEN_EXISTING;
  }
}

DWORD move_method(FileSeekOrigin origin) {
  return origin == FileSeekOrigin::kFromCurrent ? FILE_CURRENT : FILE_BEGIN;
}

}  // namespace

PlatformFile platform_file_open(const char* name, uint32_t access, uint32_t share,
                                FileDisposition disposition) {
  if (!name || !*name) return kPlatformInvalidFile;
  auto* record = static_cast<PlatformFileRecord*>(std::malloc(sizeof(PlatformFileRecord)));
  if (!record) return kPlatformInvalidFile;
  HANDLE handle = CreateFileA(name, desired_access(access), share_mode(share), nullptr,
                              creation_disposition(disposition), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::free(record);
    return kPlatformInvalidFile;
  }
  record->next = file_service.open_files;
  record->handle = handle;
  file_service.open_files = record;
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
  DWORD written = 0;
  BOOL ok = WriteFile(r->handle, data, count, &written, nullptr);
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

bool platform_file_close(PlatformFile file) {
  PlatformFileRecord** link = &file_service.open_files;
  while (*link && *link != file) link = &(*link)->next;
  PlatformFileRecord* r = *link;
  if (!r) return false;
  *link = r->next;
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
  return name && *name && DeleteFileA(name) != 0;
}

bool platform_set_current_directory(const char* path) {
  return path && *path && SetCurrentDirectoryA(path) != 0;
}

void win32_close_every_file() {
  for (PlatformFileRecord* r = file_service.open_files; r; r = r->next) {
    HANDLE handle = r->handle;
    r->handle = nullptr;
    if (handle) CloseHandle(handle);
  }
}
