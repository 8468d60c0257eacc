// Process services on POSIX: /proc/self/exe for the program's file, /proc/self/cmdline for
// its arguments, signal handlers so that registered cleanups also run when the user
// interrupts the program.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/exit_cleanups.h"
#include "platform/process.h"

namespace {

struct ProcessState {
  volatile sig_atomic_t cleaned_up;
  bool handlers_installed;
  bool arguments_read;
  char* arguments;        ///< the command line's words, each ended by a zero; null if unread
  size_t arguments_size;  ///< bytes at `arguments`
};

ProcessState process_state;

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
const int kStandardDescriptors[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
constexpr char kNullDevice[] = "/dev/null";
constexpr char kCommandLineFile[] = "/proc/self/cmdline";
/// Bytes the command line is read in at a time (its buffer grows by as much).
constexpr size_t kCommandLineChunk = 4096;

/// Removes the file at `path` (unlink is safe inside a signal handler).
bool unlink_path(const char* path) {
  return ::unlink(path) == 0;
}

/// Runs the registered cleanups once, newest first, after removing the registered files
/// (only async-signal-safe calls: this also runs inside a signal handler).
void run_cleanups() {
  if (process_state.cleaned_up) return;
  process_state.cleaned_up = 1;
  exit_cleanups_finish(unlink_path);
}

void on_signal(int signal_number) {
  run_cleanups();
  // Die of the same signal, so that the parent sees how the program ended.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

void install_handlers() {
  if (process_state.handlers_installed) return;
  process_state.handlers_installed = true;
  std::atexit(run_cleanups);
  for (int s : kCleanupSignals) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(s, &action, nullptr);
  }
}

/// Reads the whole of `descriptor` into a new malloc block; false when it cannot.
bool read_all(int descriptor, char** out, size_t* out_size) {
  char* buffer = nullptr;
  size_t size = 0;
  for (;;) {
    char* grown = static_cast<char*>(std::realloc(buffer, size + kCommandLineChunk));
    if (!grown) break;
    buffer = grown;
    const ssize_t n = ::read(descriptor, buffer + size, kCommandLineChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      *out = buffer;
      *out_size = size;
      return true;
    }
    size += static_cast<size_t>(n);
  }
  std::free(buffer);
  return false;
}

/// Reads the command line once: the program's name and its arguments, each ended by a
/// zero byte. Left empty when it cannot be read.
void read_arguments() {
  if (process_state.arguments_read) return;
  process_state.arguments_read = true;
  const int descriptor = ::open(kCommandLineFile, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return;
  char* words = nullptr;
  size_t size = 0;
  if (read_all(descriptor, &words, &size)) {
    // A last word without its zero (a command line cut short) is left out.
    while (size > 0 && words[size - 1] != 0) --size;
    process_state.arguments = words;
    process_state.arguments_size = size;
  }
  ::close(descriptor);
}

/// Word `index` of the command line (0 is the program's name); null when there is none.
const char* command_line_word(int index) {
  read_arguments();
  const char* at = process_state.arguments;
  const char* end = at + process_state.arguments_size;
  for (int i = 0; at && at < end; ++i) {
    if (i == index) return at;
    at += std::strlen(at) + 1;
  }
  return nullptr;
}

}  // namespace

int platform_argument_count() {
  int count = 0;
  while (command_line_word(count + 1)) ++count;
  return count;
}

const char* platform_argument(int index) {
  return index < 0 ? nullptr : command_line_word(index + 1);
}

void platform_error_line(const char* text) {
  if (!text) return;
  const size_t length = std::strlen(text);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(STDERR_FILENO, text + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
  while (::write(STDERR_FILENO, "\n", 1) < 0 && errno == EINTR) {
  }
}

void platform_process_start() {
  // Descriptors are numbered lowest free first: going up from 0, each one reopened here
  // lands on its own number.
  for (int fd : kStandardDescriptors) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open(kNullDevice, (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_NOCTTY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

void* platform_module_handle() {
  return &process_state;
}

const char* platform_command_line() {
  return "";
}

uint32_t platform_module_file_name(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  // A link as long as the whole buffer may have been cut: that counts as not fitting.
  ssize_t n = ::readlink("/proc/self/exe", buffer, size);
  if (n < 0) n = 0;
  if (static_cast<uint32_t>(n) >= size) {
    buffer[size - 1] = 0;
    return size;
  }
  buffer[n] = 0;
  return static_cast<uint32_t>(n);
}

void platform_exit_process(int exit_code) {
  run_cleanups();
  std::exit(exit_code);
}

/// The held signals are the ones that run the cleanups.
void set_cleanup_signals_blocked(bool blocked) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : kCleanupSignals) sigaddset(&signals, s);
  ::sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

void platform_hold_interrupts() {
  set_cleanup_signals_blocked(true);
}

void platform_release_interrupts() {
  set_cleanup_signals_blocked(false);
}

bool platform_remove_on_exit(int slot, const char* path) {
  install_handlers();
  return exit_cleanups_set_remove_path(slot, path);
}

bool platform_at_exit(void (*cleanup)()) {
  install_handlers();
  return exit_cleanups_add(cleanup);
}

uint64_t platform_clock_ms() {
  constexpr uint64_t kMsPerSecond = 1000;
  constexpr long kNsPerMs = 1000000;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * kMsPerSecond +
         static_cast<uint64_t>(now.tv_nsec / kNsPerMs);
}
