// Temporary folders on Windows. A new folder is made in the user's temporary folder, which
// belongs to the user and is closed to other users already, so the new one needs no
// permissions of its own; CreateDirectoryW fails on any existing name, so a name taken by
// someone else is never used.
//
// A tree is removed folder by folder. Each folder is held open while its entries are
// removed, opened as itself (a reparse point is not followed) and shared with everything
// but deletion, so that it can be neither renamed nor replaced meanwhile. A reparse point
// (symbolic link, junction, mount point) is removed as itself and never entered. Some
// systems show a link as the folder or file it leads to (Wine does so for the Unix links
// it shows): there a held folder whose final path is not its parent's final path followed
// by its name gives the link away.
#include <windows.h>

#include "platform/process.h"
#include "platform/temp_folder.h"
#include "platform/win32/utf16.h"

namespace {

/// Every share mode but deletion: a held folder stays where it is.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = kShareAllButDelete | FILE_SHARE_DELETE;
/// The prefix that lifts the length limit of paths in the wide calls.
constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

/// A path under construction: `length` units of `text`, zero-terminated.
struct Walk {
  WidePath path;
  uint32_t length;
};

/// Appends `text` to the walk's path; false when it does not fit (the path is unchanged).
bool append(Walk* walk, const wchar_t* text) {
  const uint32_t length = static_cast<uint32_t>(lstrlenW(text));
  if (walk->length + length >= kMaxPathSize) return false;
  CopyMemory(walk->path.text + walk->length, text, (length + 1) * sizeof(wchar_t));
  walk->length += length;
  return true;
}

/// Cuts the walk's path back to `length` units.
void cut(Walk* walk, uint32_t length) {
  walk->length = length;
  walk->path.text[length] = 0;
}

/// 64 bits that differ from call to call and are hard to guess: the counters of the
/// system and of this process mixed together (the name need not be secret to be safe, as
/// it is created exclusively).
uint64_t random_bits() {
  static uint64_t counter;
  LARGE_INTEGER ticks{};
  QueryPerformanceCounter(&ticks);
  uint64_t z = uint64_t(ticks.QuadPart) ^ (GetTickCount64() << 20) ^
               (uint64_t(GetCurrentProcessId()) << 40) ^ (++counter * 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;  // a 64-bit mixing step
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

/// Access of a handle that reads and changes an entry's attributes.
constexpr DWORD kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

/// Opens the entry `path` as itself (a reparse point is not followed) with `access` and
/// `share`. INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE open_as_itself(const wchar_t* path, DWORD access, DWORD share) {
  return CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

/// The attributes of the open `handle`; INVALID_FILE_ATTRIBUTES when unknown.
DWORD attributes_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                   : INVALID_FILE_ATTRIBUTES;
}

/// Takes the read-only attribute off the open `handle`'s entry (the entry itself, not
/// what a name may lead to); true when it is off.
bool clear_read_only(HANDLE handle) {
  FILE_BASIC_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info)) return false;
  if (!(info.FileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
  info.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != 0;
}

/// Marks the entry open as `handle` for deletion when the handle is closed: the entry that
/// was opened and checked goes, whatever its name has come to stand for meanwhile.
bool delete_on_close(HANDLE handle) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

/// True when the entry held as `child` is the entry `name` of the folder held as
/// `parent`, final paths compared without regard to case; also when the system cannot
/// tell final paths (the attributes are all there is to go by then). Kept out of line:
/// its two buffers must not weigh on every level of the walk.
__attribute__((noinline)) bool is_entry_of(HANDLE child, HANDLE parent, const wchar_t* name) {
  WidePath parent_path;
  WidePath child_path;
  const DWORD p = GetFinalPathNameByHandleW(parent, parent_path.text, kMaxPathSize, 0);
  const DWORD c = GetFinalPathNameByHandleW(child, child_path.text, kMaxPathSize, 0);
  if (p == 0 || p >= kMaxPathSize || c == 0 || c >= kMaxPathSize) return true;
  DWORD start = p;
  if (parent_path.text[p - 1] != L'\\') {  // a root's final path ends with its separator
    if (child_path.text[p] != L'\\') return false;
    ++start;
  }
  return c > start &&
         CompareStringOrdinal(child_path.text, static_cast<int>(p), parent_path.text,
                              static_cast<int>(p), TRUE) == CSTR_EQUAL &&
         CompareStringOrdinal(child_path.text + start, -1, name, -1, TRUE) == CSTR_EQUAL;
}

bool remove_contents(Walk* walk, HANDLE folder, uint32_t depth);

/// Deletes the entry at the walk's path, `name` in the folder held as `parent` (an empty
/// folder, a file or a reparse point), through a handle of the entry itself. A link the
/// system followed although it was asked not to is left alone: whatever deleted it there
/// would take what it leads to.
bool delete_entry(const Walk* walk, HANDLE parent, const wchar_t* name) {
  HANDLE entry = open_as_itself(walk->path.text, kAttributeAccess | DELETE, kShareAllButDelete);
  if (entry == INVALID_HANDLE_VALUE) return false;
  const DWORD attributes = attributes_of(entry);
  const bool deleted =
      attributes != INVALID_FILE_ATTRIBUTES &&
      ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || is_entry_of(entry, parent, name)) &&
      clear_read_only(entry) && delete_on_close(entry);
  CloseHandle(entry);
  return deleted;
}

/// Removes the entry at the walk's path, `name` in the folder held as `parent`: a folder
/// with its contents, a reparse point as itself, anything else as a file; with
/// `folder_only` nothing but a folder. `depth` levels lie above the entry.
bool remove_entry(Walk* walk, HANDLE parent, const wchar_t* name, uint32_t depth,
                  bool folder_only) {
  // Held during the walk without the right to delete, which a listing of the folder would
  // not share; it is deleted through a handle of its own afterwards.
  HANDLE entry = open_as_itself(walk->path.text, kAttributeAccess, kShareAllButDelete);
  if (entry == INVALID_HANDLE_VALUE) return false;
  // What was opened decides, not what was listed: it may have been replaced meanwhile.
  const DWORD attributes = attributes_of(entry);
  const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ==
                          FILE_ATTRIBUTE_DIRECTORY;
  bool ok = attributes != INVALID_FILE_ATTRIBUTES && (folder || !folder_only);
  if (ok && folder)
    ok = is_entry_of(entry, parent, name) && depth < kTreeRemoveMaxDepth &&
         remove_contents(walk, entry, depth + 1);
  CloseHandle(entry);
  return ok && delete_entry(walk, parent, name);
}

/// Removes everything in the folder at the walk's path, held as `folder`; `depth` levels
/// lie above it. The walk's path is the same afterwards.
bool remove_contents(Walk* walk, HANDLE folder, uint32_t depth) {
  const uint32_t length = walk->length;
  if (!append(walk, L"\\*")) return false;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(walk->path.text, &data);
  cut(walk, length);
  if (search == INVALID_HANDLE_VALUE) return false;  // "." at least is always listed
  bool ok = true;
  do {
    const wchar_t* name = data.cFileName;
    if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
    ok = append(walk, L"\\") && append(walk, name) &&
         remove_entry(walk, folder, name, depth, false) && ok;
    cut(walk, length);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return ok;
}

/// Sets the walk's path to the full form of `path` that no length limit applies to,
/// without a final separator; false when it does not fit or has no last part.
bool full_path(const char* path, Walk* walk) {
  WidePath given;
  WidePath full;
  if (!utf8_to_wide(path, &given)) return false;
  DWORD n = GetFullPathNameW(given.text, kMaxPathSize, full.text, nullptr);
  if (n == 0 || n >= kMaxPathSize) return false;
  while (n > 1 && (full.text[n - 1] == L'\\' || full.text[n - 1] == L'/')) full.text[--n] = 0;
  cut(walk, 0);
  const wchar_t* rest = full.text;
  if (full.text[0] && full.text[1] == L':') {
    if (!append(walk, kLongPathPrefix)) return false;
  } else if (full.text[0] == L'\\' && full.text[1] == L'\\' && full.text[2] != L'?' &&
             full.text[2] != L'.') {
    if (!append(walk, kLongUncPrefix)) return false;
    rest += 2;
  }
  return append(walk, rest);
}

}  // namespace

bool platform_temp_folder_make(char* out, uint32_t size, bool /*need_exec*/) {
  if (!out || size == 0) return false;
  out[0] = 0;
  Walk walk;
  const DWORD n = GetTempPathW(kMaxPathSize, walk.path.text);  // ends with a separator
  if (n == 0 || n >= kMaxPathSize) return false;
  walk.length = n;
  wchar_t name[sizeof kTempFolderPrefix + kTempFolderRandomDigits];
  uint32_t i = 0;
  for (; kTempFolderPrefix[i]; ++i) name[i] = static_cast<wchar_t>(kTempFolderPrefix[i]);
  wchar_t* digits = name + i;
  digits[kTempFolderRandomDigits] = 0;
  for (uint32_t attempt = 0; attempt < kTempFolderAttempts; ++attempt) {
    uint64_t bits = random_bits();
    for (uint32_t d = 0; d < kTempFolderRandomDigits; ++d, bits >>= 4)
      digits[d] = L"0123456789abcdef"[bits & 15];
    if (!append(&walk, name)) return false;
    if (CreateDirectoryW(walk.path.text, nullptr)) {
      const int written = wide_to_utf8(walk.path.text, walk.length, out, size - 1);
      if (written < 0) {
        RemoveDirectoryW(walk.path.text);
        return false;
      }
      out[written] = 0;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    cut(&walk, n);  // taken: draw another name
  }
  return false;
}

bool platform_tree_remove(const char* path) {
  Walk walk;
  if (!path || !*path || !full_path(path, &walk)) return false;
  uint32_t leaf = walk.length;
  while (leaf > 0 && walk.path.text[leaf - 1] != L'\\') --leaf;
  if (leaf == 0 || leaf == walk.length) return false;
  WidePath name;
  CopyMemory(name.text, walk.path.text + leaf, (walk.length - leaf + 1) * sizeof(wchar_t));
  // The parent, its final separator kept so that a root stays a root; links on the way to
  // it are followed (the caller's own choice).
  const wchar_t saved = walk.path.text[leaf];
  walk.path.text[leaf] = 0;
  HANDLE parent = CreateFileW(walk.path.text, 0, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  walk.path.text[leaf] = saved;
  if (parent == INVALID_HANDLE_VALUE) return false;
  const bool ok = remove_entry(&walk, parent, name.text, 0, true);
  CloseHandle(parent);
  return ok;
}
