// Process services on Windows. Registered cleanups run once: on a normal end, through
// platform_exit_process, and from the console's control handler when the user presses
// Ctrl+C or Ctrl+Break or closes the console window.
#include <windows.h>

#include <cstdlib>

#include "platform/exit_cleanups.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/win32/open_files.h"
#include "platform/win32/utf16.h"

namespace {

/// Exit code of a process ended by Ctrl+C, as the system's own handler uses it.
constexpr UINT kControlCExitCode = 0xC000013A;

struct ProcessState {
  volatile LONG cleaned_up;
  volatile LONG interrupts_held;  ///< the control handler waits while this is set
  bool handlers_installed;
};

/// A byte that continues a UTF-8 character, not one that starts it: a cut name keeps whole
/// characters only.
constexpr char kUtf8ContinuationMask = '\xC0';
constexpr char kUtf8Continuation = '\x80';

/// How long the control handler sleeps between looks while interrupts are held.
constexpr DWORD kHeldInterruptPollMs = 1;

ProcessState process_state;

/// Runs the registered cleanups once, newest first, after removing the registered files
/// (never through a link that took a file's place); whichever thread gets here first.
void run_cleanups() {
  if (InterlockedExchange(&process_state.cleaned_up, 1) != 0) return;
  exit_cleanups_finish(platform_file_delete);
}

/// Runs on a thread of its own when a console event ends the process: cleans up and ends
/// the process at once, before the program's thread can go on.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      while (process_state.interrupts_held) Sleep(kHeldInterruptPollMs);
      // An open file cannot be deleted; the process ends right after, so nothing will
      // use the handles again.
      if (exit_cleanups_have_remove_paths()) win32_close_every_file();
      run_cleanups();
      ExitProcess(kControlCExitCode);
    default:
      return FALSE;
  }
}

void install_handlers() {
  if (process_state.handlers_installed) return;
  process_state.handlers_installed = true;
  std::atexit(run_cleanups);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace

void* platform_module_handle() {
  return GetModuleHandleA(nullptr);
}

const char* platform_command_line() {
  return GetCommandLineA();
}

uint32_t platform_module_file_name(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = 0;
  WidePath wide;
  DWORD units = GetModuleFileNameW(nullptr, wide.text, kMaxPathSize);
  // A cut name fills the whole buffer and, on older systems, is not terminated.
  const bool cut = units >= kMaxPathSize;
  if (cut) units = kMaxPathSize - 1;
  char name[kMaxPathSize * kMaxUtf8BytesPerUnit];
  const int bytes = wide_to_utf8(wide.text, units, name, sizeof name);
  if (bytes <= 0) return 0;  // no name, or one that is not valid UTF-16: no UTF-8 spelling
  auto kept = static_cast<uint32_t>(bytes);
  if (kept >= size) {
    kept = size - 1;
    while (kept > 0 && (name[kept] & kUtf8ContinuationMask) == kUtf8Continuation) --kept;
  }
  CopyMemory(buffer, name, kept);
  buffer[kept] = 0;
  return cut || kept < static_cast<uint32_t>(bytes) ? size : kept;
}

void platform_exit_process(int exit_code) {
  run_cleanups();
  ExitProcess(static_cast<UINT>(exit_code));
}

void platform_hold_interrupts() {
  InterlockedExchange(&process_state.interrupts_held, 1);
}

void platform_release_interrupts() {
  InterlockedExchange(&process_state.interrupts_held, 0);
}

bool platform_remove_on_exit(int slot, const char* path) {
  install_handlers();
  return exit_cleanups_set_remove_path(slot, path);
}

bool platform_at_exit(void (*cleanup)()) {
  install_handlers();
  return exit_cleanups_add(cleanup);
}

void platform_process_start() {
  // Nothing to do here: the system keeps the standard handles apart, so a file the program
  // opens does not become one, and a write to a closed pipe fails as an error, not a signal.
}

uint64_t platform_clock_ms() {
  return GetTickCount64();
}
