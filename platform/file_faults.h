// Test hooks of the file service: writes that fail part-way, as on a full disk, so that
// what the program does then can be tried without filling a real disk; and a call made at
// the next write, so that a test can change the file system while a file is being written. Off
// unless a test turns it on; both back ends ask it before every write.
#pragma once

#include <cstdint>

/// After `bytes` more bytes have been written through platform_file_write, every further
/// write fails as on a full disk (a write that crosses the limit writes what fits first).
/// A negative value turns the limit off, which is the state at start.
void platform_file_fail_writes_after(int64_t bytes);

/// How many of `count` bytes the next write may write (count itself while no limit is set);
/// takes them from the allowance. Used by the back ends.
uint32_t file_faults_take_allowance(uint32_t count);

/// Calls `hook` once, at the start of the next write through platform_file_write (null:
/// none, the state at start).
void platform_file_call_at_next_write(void (*hook)());
