// Writing one file in place of its target, for every way the program extracts: the new
// bytes go to a new file beside the target, made exclusively under the first free name
// `TARGET.<n>.entpacker-neu` and registered for removal on every way out, are written whole
// and closed, and only then take the target's place in one rename. Whatever fails, the
// target keeps what it held and the new file is removed. A file the run did not make itself
// is never written to or removed.
#pragma once

#include <cstdint>

#include "files/file_table.h"
#include "platform/file.h"

/// An entry is written to its target's name followed by "." and the first free number from
/// 1 and this extension, then renamed over the target.
inline constexpr char kPartFileSeparator[] = ".";
inline constexpr char kPartFileExtension[] = ".entpacker-neu";
/// The highest number a new file's name is given before the run gives up on it.
inline constexpr uint32_t kMaxNameNumber = 99;
/// Removal slots: the temporary archive of the built-in run, and the new file of the entry
/// being written.
inline constexpr int kArchiveRemovalSlot = 0;
inline constexpr int kPartRemovalSlot = 1;

/// What a new file gets before it takes its target's place.
struct TargetAttributes {
  bool set_time;    ///< give it `mtime` as its modification time
  int64_t mtime;    ///< seconds since 1970-01-01 UTC
  bool executable;  ///< make it executable
};

/// How a new file takes its target's place.
enum class TargetPlacement : uint8_t {
  replace,   ///< over whatever regular file is there (which lends its permission bits)
  must_add,  ///< only where nothing of the name exists at the moment of the rename
};

/// What became of a write.
enum class TargetWrite : uint8_t {
  written,  ///< the target holds the new bytes
  taken,    ///< must_add, and something appeared at the name meanwhile: it is left as it is
  failed,   ///< nothing changed; the new file is gone
};

/// Makes a new file under `file`, registered for removal in `slot`, with the first free of
/// the names built from `stem`, `separator`, a number and `extension` (the plain name
/// without a number first when `plain_first`, then the numbers after it up to
/// kMaxNameNumber), which stays in `out` (kMaxPathSize bytes). A file that has one of these
/// names already, a user's or another run's, is never written to or removed.
bool target_create_first_free(char* out, const char* stem, const char* separator,
                              const char* extension, bool plain_first, FileReference file,
                              int slot);

/// Removes a file this run made and no longer wants, and forgets its removal at exit.
void target_remove_own_file(const char* name, int slot);

/// How starting a new file went.
enum class TargetBegin : uint8_t {
  begun,    ///< the new file is open for target_append
  blocked,  ///< the target is a folder, link, read-only file or other non-regular file
  failed,   ///< no new file could be made
};

/// Starts a new file beside `target_name` (relative to the current folder) for the bytes of
/// an entry that come in pieces. Unless begun, nothing is left behind.
TargetBegin target_begin(const char* target_name);

/// The cause of the last step of this writer that failed (beginning, appending, finishing
/// or placing a file).
FileFailure target_failure();

/// Appends `length` bytes to the new file; false when they cannot be written.
bool target_append(const uint8_t* data, size_t length);

/// Ends the new file (flushed when it replaces a file), closes it, gives it `attributes`
/// (null: none) and puts it in the place of `target_name` as `placement` says. After
/// `taken` the finished new file stays, for target_place or target_abandon; otherwise it
/// is gone (in the target's place, or removed).
TargetWrite target_finish(const char* target_name, const TargetAttributes* attributes,
                          TargetPlacement placement);

/// Another try to put the finished new file in the target's place, after `taken`.
TargetWrite target_place(const char* target_name, TargetPlacement placement);

/// Removes the new file, whether written whole or not.
void target_abandon();

/// Writes `length` bytes of `data` to a new file beside `target_name` (relative to the
/// current folder), flushed when it replaces a file, closed, gives it `attributes` (null:
/// none), then puts it in the target's place as `placement` says.
TargetWrite target_write(const char* target_name, const uint8_t* data, uint32_t length,
                         const TargetAttributes* attributes, TargetPlacement placement);
