// Test hooks of the file service: writes that fail part-way, as on a full disk, so that
// what the program does then can be tried without filling a real disk; a call made at the
// next write, so that a test can change the file system while a file is being written; and
// the older ways of placing files and finding folders, taken where a system lacks the newer
// ones. Off unless a test turns them on; the back ends ask them before every write,
// placement and lookup.
#pragma once

#include <cstdint>

/// After `bytes` more bytes have been written through platform_file_write, every further
/// write fails as on a full disk (a write that crosses the limit writes what fits first).
/// A negative value turns the limit off, which is the state at start.
void platform_file_fail_writes_after(int64_t bytes);

/// How many of `count` bytes the next write may write (count itself while no limit is set);
/// takes them from the allowance. Used by the back ends.
uint32_t file_faults_take_allowance(uint32_t count);

/// The system's ways the POSIX back end may take to place files and to find folders, for
/// tests of the older ones. Windows has one way of each and ignores the setting.
enum class FileSystemWays {
  kNewest,            ///< whatever the system has: the state at start
  kWithoutNewCalls,   ///< as on a kernel or file system without a rename that refuses to
                      ///< replace and without a lookup confined beneath a folder
  kWithoutHardLinks,  ///< as kWithoutNewCalls, on a file system without hard links too
};

/// Makes the back end take no newer ways than `ways`.
void platform_file_limit_ways(FileSystemWays ways);

/// The ways set by platform_file_limit_ways. Used by the back ends.
FileSystemWays file_faults_ways();

/// Calls `hook` once, at the start of the next write through platform_file_write (null:
/// none, the state at start).
void platform_file_call_at_next_write(void (*hook)());

/// From now on platform_free_space reports `bytes` for every path (negative: the system's
/// own figure again, the state at start).
void platform_file_fake_free_space(int64_t bytes);

/// The figure set by platform_file_fake_free_space into `*bytes`; false when none is set.
/// Used by the back ends.
bool file_faults_free_space(uint64_t* bytes);
