// Temporary folders: a new private folder of an unpredictable name for a run to extract
// into (and to run a command from), and the removal of such a folder with everything in
// it afterwards.
//
// The removal never leaves the tree it was given: a symbolic link, junction or other
// reparse point inside is removed as itself, whatever it leads to, and is never descended.
// Paths are UTF-8 throughout.
#pragma once

#include <cstdint>

/// The start of every temporary folder's name; random characters follow it.
inline constexpr char kTempFolderPrefix[] = "entpacker-";

/// Random hexadecimal digits after the prefix of a temporary folder's name.
inline constexpr uint32_t kTempFolderRandomDigits = 16;

/// Names tried before a temporary folder is given up: a name that exists already (made by
/// anyone) is never taken, the next try draws a new one.
inline constexpr uint32_t kTempFolderAttempts = 32;

/// Folder levels below the removed one that a removal descends at most; what lies deeper
/// is left in place and the removal reports failure.
inline constexpr uint32_t kTreeRemoveMaxDepth = 256;

/// Makes a new folder of a new unpredictable name, created here and nowhere else (a name
/// taken already is never reused), and writes its full path, zero-terminated, into `out` of
/// `size` bytes. POSIX: the folder has mode 0700 whatever the umask, and lies in $TMPDIR
/// when that is an absolute path of a folder, else in /tmp; with `need_exec`, when that file
/// system is mounted without the right to run programs, it lies in $XDG_CACHE_HOME (when
/// absolute) or $HOME/.cache instead, whose missing folders are made with mode 0700.
/// Windows: the folder lies in the user's temporary folder; `need_exec` changes nothing.
/// False, with no new folder made, when no folder can be made, the path does not fit, or
/// `need_exec` is asked and no folder where programs may run is found.
bool platform_temp_folder_make(char* out, uint32_t size, bool need_exec);

/// Removes the folder `path` and everything in it. Links (symbolic links, junctions, other
/// reparse points) inside are removed as links and never followed; nothing outside the
/// folder is touched, and no other file system mounted inside it is entered. Read-only
/// entries are removed too. Goes on after an entry that cannot be removed and returns
/// false at the end then; false too, with nothing touched, when `path` is itself a link,
/// is not a folder or is missing. Links among the folders leading to `path` are followed:
/// they are the caller's own choice. Where the system shows a link as the entry it leads
/// to and would remove that entry in its place (Wine with the Unix links it shows), the
/// link is left in place and the removal reports failure.
bool platform_tree_remove(const char* path);
