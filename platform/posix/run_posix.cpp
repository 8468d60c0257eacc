// Running a program on POSIX: fork, then chdir and execve in the child. Whether the exec
// worked comes back through a pipe that closes on exec: it carries the failed step and its
// errno, or nothing when the program started.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/run.h"

extern char** environ;

namespace {

/// Exit code of a child whose exec failed; the parent learns the reason from the pipe.
constexpr int kExecFailedExitCode = 127;

/// The step at which a child failed, sent to the parent with its errno.
enum ChildStep : int { kStepFolder = 1, kStepExec = 2 };

struct ChildFailure {
  int step;
  int error;
};

/// The child being waited for, for the termination handler; 0 when there is none.
volatile sig_atomic_t waited_child = 0;
/// Set when a termination came during the wait.
volatile sig_atomic_t termination_pending = 0;

/// Signals a terminal sends to its whole foreground process group: the program takes them
/// itself, so this process ignores them while it waits.
const int kTerminalSignals[] = {SIGINT, SIGQUIT};

/// Passes a termination sent to this process on to the child (only async-signal-safe
/// calls).
void on_termination(int) {
  termination_pending = 1;
  const pid_t child = waited_child;
  if (child > 0) ::kill(child, SIGTERM);
}

/// The length of the name in the "NAME=VALUE" entry `entry`.
size_t name_length(const char* entry) {
  const char* equals = std::strchr(entry, '=');
  return equals ? static_cast<size_t>(equals - entry) : std::strlen(entry);
}

bool same_name(const char* entry, const char* name) {
  const size_t length = std::strlen(name);
  return name_length(entry) == length && std::memcmp(entry, name, length) == 0;
}

bool valid_variables(const PlatformRunEnvironment* added) {
  if (!added) return true;
  if (added->count < 0 || added->count > kPlatformRunMaxVariables) return false;
  for (int i = 0; i < added->count; ++i) {
    const PlatformRunVariable& v = added->variables[i];
    if (!v.name || !v.value || v.name[0] == '\0' || std::strchr(v.name, '=')) return false;
  }
  return true;
}

/// True when an added variable after `index` has the same name as variable `index`.
bool replaced_later(const PlatformRunEnvironment* added, int index) {
  for (int j = index + 1; j < added->count; ++j)
    if (std::strcmp(added->variables[j].name, added->variables[index].name) == 0) return true;
  return false;
}

/// The child's environment: this process's, without the entries an added variable
/// replaces, then the added ones. The entries added are allocated after the array's
/// pointers, in the same block; null when memory ran out.
char** make_environment(const PlatformRunEnvironment* added) {
  const int added_count = added ? added->count : 0;
  size_t entries = 0;
  for (char** e = environ; e && *e; ++e) ++entries;
  size_t text_bytes = 0;
  for (int i = 0; i < added_count; ++i)
    text_bytes +=
        std::strlen(added->variables[i].name) + std::strlen(added->variables[i].value) + 2;
  const size_t pointer_bytes = (entries + added_count + 1) * sizeof(char*);
  auto* block = static_cast<char**>(std::malloc(pointer_bytes + text_bytes));
  if (!block) return nullptr;
  size_t next = 0;
  for (char** e = environ; e && *e; ++e) {
    bool replaced = false;
    for (int i = 0; i < added_count && !replaced; ++i)
      replaced = same_name(*e, added->variables[i].name);
    if (!replaced) block[next++] = *e;
  }
  char* text = reinterpret_cast<char*>(block) + pointer_bytes;
  for (int i = 0; i < added_count; ++i) {
    if (replaced_later(added, i)) continue;
    const size_t name = std::strlen(added->variables[i].name);
    const size_t value = std::strlen(added->variables[i].value);
    block[next++] = text;
    std::memcpy(text, added->variables[i].name, name);
    text[name] = '=';
    std::memcpy(text + name + 1, added->variables[i].value, value + 1);
    text += name + value + 2;
  }
  block[next] = nullptr;
  return block;
}

PlatformRunOutcome outcome_of(const ChildFailure& failure) {
  if (failure.step == kStepFolder) return PlatformRunOutcome::kFolderFailed;
  switch (failure.error) {
    case ENOENT:
    case ENOTDIR:
      return PlatformRunOutcome::kNotFound;
    case EACCES:
    case EPERM:
    case ENOEXEC:
      return PlatformRunOutcome::kNotExecutable;
    default:
      return PlatformRunOutcome::kFailed;
  }
}

/// Reads what the child sent through the pipe: true and `*failure` when its exec failed,
/// false when the pipe closed empty (the program started).
bool read_failure(int fd, ChildFailure* failure) {
  char* bytes = reinterpret_cast<char*>(failure);
  size_t got = 0;
  while (got < sizeof(*failure)) {
    const ssize_t n = ::read(fd, bytes + got, sizeof(*failure) - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got == sizeof(*failure);
}

/// In the child, between fork and exec (only async-signal-safe calls): the dispositions
/// and the mask the program should start with, then the folder and the exec. Never
/// returns.
[[noreturn]] void run_child(int report, const char* program, char** argv, char** envp,
                            const char* folder, const struct sigaction* saved,
                            const sigset_t* saved_mask) {
  // A signal this process ignored before the run stays ignored for the program, as it
  // would have been without the wait; any other takes its default (handlers do not
  // survive the exec anyway).
  const int signals[] = {SIGINT, SIGQUIT, SIGTERM};
  for (int i = 0; i < 3; ++i) {
    struct sigaction action {};
    action.sa_handler = saved[i].sa_handler == SIG_IGN ? SIG_IGN : SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signals[i], &action, nullptr);
  }
  ::sigprocmask(SIG_SETMASK, saved_mask, nullptr);
  ChildFailure failure{kStepExec, 0};
  if (folder && ::chdir(folder) != 0) {
    failure = {kStepFolder, errno};
  } else {
    ::execve(program, argv, envp);
    failure.error = errno;
  }
  ssize_t written;
  do {
    written = ::write(report, &failure, sizeof(failure));
  } while (written < 0 && errno == EINTR);
  ::_exit(kExecFailedExitCode);
}

}  // namespace

bool platform_run(const char* program, const char* const* arguments, int count, const char* folder,
                  const PlatformRunEnvironment* added, PlatformRunResult* result) {
  *result = {PlatformRunOutcome::kRefused, 0, 0, 0};
  if (!program || count < 0 || count > kPlatformRunMaxArguments || (count > 0 && !arguments) ||
      !valid_variables(added))
    return false;
  for (int i = 0; i < count; ++i)
    if (!arguments[i]) return false;

  result->outcome = PlatformRunOutcome::kFailed;
  // Everything the child needs is made before the fork: after it, in a process that may
  // have other threads, the child may only make async-signal-safe calls.
  auto** argv = static_cast<char**>(std::malloc((count + 2) * sizeof(char*)));
  char** envp = make_environment(added);
  if (!argv || !envp) {
    result->error = ENOMEM;
    std::free(argv);
    std::free(envp);
    return false;
  }
  argv[0] = const_cast<char*>(program);
  for (int i = 0; i < count; ++i) argv[i + 1] = const_cast<char*>(arguments[i]);
  argv[count + 1] = nullptr;

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    result->error = errno;
    std::free(argv);
    std::free(envp);
    return false;
  }

  // Terminal interrupts are ignored and a termination passed on while the child runs. The
  // termination is held until the child's number is known to its handler.
  sigset_t terminate, saved_mask;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &terminate, &saved_mask);
  struct sigaction saved[3];
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int i = 0; i < 2; ++i) ::sigaction(kTerminalSignals[i], &ignore, &saved[i]);
  struct sigaction forward {};
  forward.sa_handler = on_termination;
  sigemptyset(&forward.sa_mask);
  ::sigaction(SIGTERM, &forward, &saved[2]);
  termination_pending = 0;

  const pid_t child = ::fork();
  if (child == 0) run_child(report[1], program, argv, envp, folder, saved, &saved_mask);
  const int fork_error = errno;
  ::close(report[1]);
  if (child > 0) {
    waited_child = child;
    ::sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    // A termination that came before the child was known: pass it on now.
    if (termination_pending) ::kill(child, SIGTERM);
    ChildFailure failure{};
    const bool failed = read_failure(report[0], &failure);
    int status = 0;
    pid_t waited;
    do {
      waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (failed) {
      result->outcome = outcome_of(failure);
      result->error = failure.error;
    } else if (waited < 0) {
      result->error = errno;
    } else if (WIFEXITED(status)) {
      result->outcome = PlatformRunOutcome::kExited;
      result->exit_code = static_cast<uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      result->outcome = PlatformRunOutcome::kSignalled;
      result->signal = WTERMSIG(status);
    }
    ::sigprocmask(SIG_BLOCK, &terminate, nullptr);
    waited_child = 0;
  } else {
    result->error = fork_error;
  }
  ::close(report[0]);
  std::free(argv);
  std::free(envp);

  // The previous handling comes back; a termination that came meanwhile is raised again
  // and taken by it once the mask is restored.
  for (int i = 0; i < 2; ++i) ::sigaction(kTerminalSignals[i], &saved[i], nullptr);
  ::sigaction(SIGTERM, &saved[2], nullptr);
  if (termination_pending) ::raise(SIGTERM);
  ::sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  return result->outcome == PlatformRunOutcome::kExited;
}
