// Running another program and waiting for it: a command given by its path and exact
// arguments (no shell reads them), in a chosen working folder, with this process's
// environment and a few variables added. The standard streams are inherited.
//
// Interrupts while waiting: the program runs in the same process group (POSIX) or console
// (Windows), so an interrupt typed at the terminal (Ctrl+C, Ctrl+\, Ctrl+Break) reaches it
// directly. This process ignores those during the wait, so that it does not end before the
// program it waits for; its previous handling is restored afterwards. On POSIX a
// termination (SIGTERM) sent to this process alone during the wait is passed on to the
// program; once the program has ended, the termination is taken by this process as it
// would have been without the wait (its cleanups run and it ends).
//
// The wait changes process-wide signal and console handling: one thread runs programs at
// a time.
#pragma once

#include <cstdint>

/// Most variables a run may add to the environment.
inline constexpr int kPlatformRunMaxVariables = 8;

/// Most arguments a run passes, the program's own name not counted.
inline constexpr int kPlatformRunMaxArguments = 1024;

/// One variable added to the program's environment.
struct PlatformRunVariable {
  const char* name;   ///< UTF-8, not empty, without '='
  const char* value;  ///< UTF-8, may be empty
};

/// Variables added to the environment of this process for the program: one of the same
/// name is replaced (on Windows, names match whatever their case). When two added
/// variables share a name, the later one counts.
struct PlatformRunEnvironment {
  PlatformRunVariable variables[kPlatformRunMaxVariables];
  int count;  ///< 0 to kPlatformRunMaxVariables
};

/// How a run ended.
enum class PlatformRunOutcome {
  kExited,         ///< the program ran and ended with `exit_code`
  kSignalled,      ///< the program was ended by signal `signal` (POSIX only)
  kNotFound,       ///< no program at the path, or no interpreter its `#!` line names
  kNotExecutable,  ///< the file may not be run (permission) or is no program
  kFolderFailed,   ///< the working folder could not be entered
  kRefused,        ///< the request could not be passed on exactly (see platform_run)
  kFailed,         ///< the program could not be started for another reason
};

/// What platform_run reports.
struct PlatformRunResult {
  PlatformRunOutcome outcome;
  /// kExited: the exit code; on POSIX 0 to 255, on Windows the full 32-bit code.
  uint32_t exit_code;
  /// kSignalled: the signal's number.
  int signal;
  /// The system's error code (errno, or GetLastError on Windows) when the program was not
  /// started; 0 otherwise.
  int error;
};

/// Runs the program at `program` (a UTF-8 path, not searched for on PATH; on Windows with
/// its extension) with `count` UTF-8 `arguments` passed exactly, in the working folder
/// `folder` (null: this process's), with the environment of this process plus `added`
/// (null: none), and waits until it ends. Returns true when it ran and exited, whatever its
/// exit code; `*result` tells how the run ended either way.
///
/// On POSIX a file starting with a `#!` line runs through the interpreter it names.
/// On Windows a `.cmd` or `.bat` file runs through the command interpreter (%COMSPEC%,
/// else cmd.exe in the system folder), which reads its command line by rules of its own:
/// an argument or path holding a character that it would still interpret inside quotes
/// (`"`, `%`, a line break) is refused (kRefused) rather than passed on changed.
/// kRefused is also the outcome for more than kPlatformRunMaxArguments arguments, more
/// than kPlatformRunMaxVariables variables, a variable name that is empty or holds '=', or
/// text that is not valid UTF-8 (Windows).
bool platform_run(const char* program, const char* const* arguments, int count, const char* folder,
                  const PlatformRunEnvironment* added, PlatformRunResult* result);
