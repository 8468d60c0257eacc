// Process services: the program's own module and file, and ending the process.
#pragma once

#include <cstdint>

/// The separator between the components of a path on this system.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

/// Prepares the process before anything else runs; call it first in main(). A standard
/// stream (input, output, error) that is closed at start is opened on the null device, so
/// that no file the program opens later takes its place; a write to an output whose reader
/// has gone fails as an error the caller sees instead of ending the process.
void platform_process_start();

/// Handle of the program's own module (an opaque non-null value).
void* platform_module_handle();

/// The command line the process was started with (never null).
const char* platform_command_line();

/// How many arguments the program was given, its own name not counted.
int platform_argument_count();

/// Argument `index` (0 is the first after the program's name) in UTF-8 (the Windows back
/// end converts the wide command line); null for an index out of range.
const char* platform_argument(int index);

/// Writes `text` and a line break to the standard error stream, as plain bytes whatever
/// it is connected to; a failed write is not reported.
void platform_error_line(const char* text);

/// Longest path the program handles, its terminating zero included.
inline constexpr uint32_t kMaxPathSize = 4096;

/// Writes the full path of the program's own file into `buffer` of `size` bytes, cut to
/// size - 1 characters and zero-terminated. Returns the number of characters written, or
/// `size` when the path did not fit (the buffer then holds its first size - 1 characters).
uint32_t platform_module_file_name(char* buffer, uint32_t size);

/// Milliseconds of a clock that only goes forward, from an arbitrary start: for intervals.
uint64_t platform_clock_ms();

/// Ends the process with `exit_code`, after the cleanup registered with
/// platform_at_exit has run.
[[noreturn]] void platform_exit_process(int exit_code);

/// Registers `cleanup` to run once when the process ends: normally, through
/// platform_exit_process, or through an interrupt (Ctrl+C) or termination signal.
/// At most kMaxExitCleanups can be registered; returns false beyond that.
inline constexpr int kMaxExitCleanups = 8;
bool platform_at_exit(void (*cleanup)());

/// Longest path platform_remove_on_exit keeps, its terminating zero included.
inline constexpr int kMaxRemoveOnExitPath = static_cast<int>(kMaxPathSize);

/// Number of files that can be registered for removal at the same time, each in a slot of
/// its own.
inline constexpr int kRemoveOnExitSlots = 2;

/// While registered in `slot` (0 to kRemoveOnExitSlots - 1), the file at the full `path`
/// is removed when the process ends in any way other than after a later
/// platform_remove_on_exit(slot, nullptr): an interrupt (Ctrl+C), a termination signal, or
/// an exit. One path a slot; null unregisters. False when the slot does not exist or the
/// path is too long (nothing is registered in the slot then).
bool platform_remove_on_exit(int slot, const char* path);

/// Holds back the interrupt and termination signals (Ctrl+C, a console that closes) until
/// platform_release_interrupts, which lets one that came meanwhile take effect. Used around
/// steps that must not be cut apart, such as making a file and registering its removal.
void platform_hold_interrupts();

/// Ends platform_hold_interrupts.
void platform_release_interrupts();
