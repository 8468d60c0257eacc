// File-system queries by name: the size probe, which tells whether a name exists, is a
// directory or a drive, and how large the file is; and deletion.
#pragma once

#include <cstddef>
#include <cstdint>

/// Size of the probe's working copy of a name, its terminating zero included.
inline constexpr size_t kProbeNameBufferSize = 1024;

/// Probe results besides a size.
inline constexpr int32_t kProbeMissing = -1;
inline constexpr int32_t kProbeDirectory = -2;

/// Probes `name` after making the program directory the current directory (it stays
/// current). Returns the file's size, capped at 2,147,483,647 for larger files;
/// kProbeDirectory for a directory or an existing drive (a name of two or three characters
/// with a colon second, judged as a drive alone); kProbeMissing when nothing of that name
/// exists or the name is longer than 1,023 characters. A null or empty name gives
/// kProbeMissing and leaves the current directory alone. One trailing path separator is
/// ignored; wildcards in the last component are honoured, the first match deciding.
int32_t file_size_probe(const char* name);

/// Deletes the file `name`, relative names resolving against the current directory.
/// Non-zero when it was deleted; 0 when it is missing, a directory, open, or protected.
int file_delete(const char* name);

/// Whether anything of the name `name` exists, a link counting as itself (relative names
/// resolving against the current directory).
bool file_name_taken(const char* name);

/// Whether a new file may take the place of `name` (relative names resolving against the
/// current directory): true when nothing of that name exists or it is a regular file that
/// may be written; false for a read-only file, a directory, a link, a FIFO, a device or a
/// socket.
bool file_may_replace(const char* name);

/// Puts the file `source` in the place of `target` in one step (the two in the same
/// directory), the target's permission bits or attributes kept. Non-zero when done; 0 when
/// `target` may not be replaced (see file_may_replace) or the system refuses, and both names
/// are then as they were.
int file_replace(const char* source, const char* target);
