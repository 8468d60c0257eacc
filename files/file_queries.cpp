#include "files/file_queries.h"

#include <cstring>

#include "files/program_directory.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

constexpr char kDriveColon = ':';

/// A name of two or three characters with a colon second names a drive, whatever its
/// third character is.
bool is_drive_form(const char* name, size_t length) {
  return (length == 2 || length == 3) && name[1] == kDriveColon;
}

/// Rates the drive `name` (in a buffer with room for one more character and the zero).
int32_t probe_drive(char* name, size_t length) {
  if (length == 2) {
    name[2] = kPathSeparator;
    name[3] = 0;
  }
  return platform_drive_type(name) > kDriveNoRootDirectory ? kProbeDirectory : kProbeMissing;
}

}  // namespace

int32_t file_size_probe(const char* name) {
  if (!name || !*name) return kProbeMissing;
  // Every relative name from here on resolves in the program directory.
  platform_set_current_directory(program_directory);

  size_t length = strnlen(name, kProbeNameBufferSize);
  if (length >= kProbeNameBufferSize) return kProbeMissing;
  char copy[kProbeNameBufferSize];
  std::memcpy(copy, name, length + 1);
  if (is_drive_form(copy, length)) return probe_drive(copy, length);
  if (copy[length - 1] == kPathSeparator) copy[--length] = 0;

  FileFindEntry entry;
  if (!platform_find_first(copy, &entry)) return kProbeMissing;
  if (entry.is_directory) return kProbeDirectory;
  // A file of 2 GiB or more must still read as one with content, never as empty or
  // negative: its size is capped at the largest positive value.
  return entry.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(entry.size);
}

int file_delete(const char* name) {
  return platform_file_delete(name) ? 1 : 0;
}

bool file_name_taken(const char* name) {
  return platform_file_kind(name) != FileKind::kMissing;
}

bool file_may_replace(const char* name) {
  const FileKind kind = platform_file_kind(name);
  return kind == FileKind::kMissing || kind == FileKind::kRegular;
}

int file_replace(const char* source, const char* target) {
  return platform_file_replace(source, target) ? 1 : 0;
}
