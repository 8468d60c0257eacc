// Threads and semaphores: a second thread that runs one procedure while the first goes on,
// and counting semaphores through which the two hand buffers to each other.
//
// A bounded hand-off of a ring of N buffers takes two semaphores: `free` made with N,
// `full` with 0. The producer waits on `free`, fills the next buffer and posts `full`; the
// consumer waits on `full`, empties the next buffer and posts `free`. What one thread wrote
// before a post is seen by the thread whose wait that post ends.
//
// A null handle from platform_thread_start or platform_semaphore_make means the platform
// could not give one; the caller then does the work on its own thread.
#pragma once

#include <cstdint>

/// A started thread; opaque, null is no thread.
using PlatformThread = struct PlatformThreadRecord*;

/// A counting semaphore; opaque, null is no semaphore.
using PlatformSemaphore = struct PlatformSemaphoreRecord*;

/// Bytes reserved for the stack of a started thread; its pages are taken as it grows.
inline constexpr uint32_t kPlatformThreadStackBytes = 1024 * 1024;

/// The highest count a semaphore may hold.
inline constexpr uint32_t kPlatformSemaphoreMaximum = 0x7FFFFFFF;

/// Starts a thread that runs `main(argument)` and ends when it returns, with a stack of
/// kPlatformThreadStackBytes. The thread takes none of the signals sent to the process (on
/// POSIX): they go to the threads that were there before, whose handlers expect them.
/// Null when no thread can be started; nothing runs then.
PlatformThread platform_thread_start(void (*main)(void* argument), void* argument);

/// Waits until `thread` has ended and frees it; the handle is gone afterwards. Every started
/// thread is joined exactly once. A null thread does nothing.
void platform_thread_join(PlatformThread thread);

/// Makes a semaphore whose count starts at `initial`. Null on failure, also when `initial`
/// is above kPlatformSemaphoreMaximum.
PlatformSemaphore platform_semaphore_make(uint32_t initial);

/// Waits until the count of `semaphore` (a semaphore made and not freed) is above zero and
/// takes one from it.
void platform_semaphore_wait(PlatformSemaphore semaphore);

/// Adds one to the count of `semaphore` (a semaphore made and not freed), ending one wait if
/// any thread waits. The caller keeps the count within kPlatformSemaphoreMaximum.
void platform_semaphore_post(PlatformSemaphore semaphore);

/// Frees `semaphore`, on which no thread may be waiting any more. A null semaphore does
/// nothing.
void platform_semaphore_free(PlatformSemaphore semaphore);
