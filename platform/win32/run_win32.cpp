// Running a program on Windows: CreateProcessW with a command line quoted so that the
// program's start-up code splits it back into exactly the arguments given, and a UTF-16
// environment block; then a wait on the process.
//
// Command lines: every argument that is empty or holds a space, tab, line break or quote
// is put in quotes; inside, a quote is escaped with a backslash, and the backslashes
// right before a quote (or before the closing quote) are doubled, since only there do
// backslashes escape. The program's own name is quoted plainly: it is split off up to the
// next quote, and a path holds no quotes.
//
// Batch files: the system starts them only through the command interpreter, run as
//   "<interpreter>" /d /s /c ""<batch file>" <arguments>"
// /d skips the interpreter's AutoRun commands; /s makes /c drop exactly the outer pair of
// quotes and read the rest as a command line. The batch file gets its arguments as they
// are written there (%1 with its quotes, %~1 without), so each is quoted plainly when it
// holds a separator or a character the interpreter would act on. A quote, a percent sign
// or a line break cannot be passed on unchanged that way, so such a run is refused.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/run.h"
#include "platform/win32/utf16.h"

namespace {

/// Longest command line CreateProcessW takes, in UTF-16 units with its terminating zero.
constexpr size_t kMaxCommandLineUnits = 32768;

/// A UTF-16 text built up to a fixed capacity; `overflow` is set once something did not
/// fit, after which appends do nothing.
struct WideText {
  wchar_t* text;
  size_t length;
  size_t capacity;  ///< units, the terminating zero included
  bool overflow;
};

bool make_text(WideText* out, size_t capacity) {
  out->text = static_cast<wchar_t*>(std::malloc(capacity * sizeof(wchar_t)));
  out->length = 0;
  out->capacity = capacity;
  out->overflow = false;
  if (out->text) out->text[0] = L'\0';
  return out->text != nullptr;
}

void append(WideText* out, wchar_t unit, size_t times = 1) {
  for (size_t i = 0; i < times; ++i) {
    if (out->overflow || out->length + 1 >= out->capacity) {
      out->overflow = true;
      return;
    }
    out->text[out->length++] = unit;
    out->text[out->length] = L'\0';
  }
}

void append(WideText* out, const wchar_t* text) {
  for (; *text; ++text) append(out, *text);
}

/// The zero-terminated UTF-8 `text` in UTF-16, allocated; null when it is not valid UTF-8
/// or memory ran out.
wchar_t* to_wide(const char* text) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  auto* wide = static_cast<wchar_t*>(std::malloc(static_cast<size_t>(units) * sizeof(wchar_t)));
  if (!wide) return nullptr;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, units) != units) {
    std::free(wide);
    return nullptr;
  }
  return wide;
}

/// Appends `argument` so that a program's start-up code reads it back exactly.
void append_quoted(WideText* out, const wchar_t* argument) {
  if (argument[0] != L'\0' && !std::wcspbrk(argument, L" \t\n\v\"")) {
    append(out, argument);
    return;
  }
  append(out, L'"');
  size_t backslashes = 0;
  for (const wchar_t* c = argument;; ++c) {
    if (*c == L'\\') {
      ++backslashes;
      continue;
    }
    if (*c == L'\0') {
      append(out, L'\\', backslashes * 2);  // before the closing quote
      break;
    }
    if (*c == L'"') {
      append(out, L'\\', backslashes * 2 + 1);
    } else {
      append(out, L'\\', backslashes);
    }
    append(out, *c);
    backslashes = 0;
  }
  append(out, L'"');
}

/// Characters the command interpreter cannot carry unchanged in a batch file's argument.
constexpr const wchar_t* kBatchRefused = L"\"%\r\n";
/// Characters that split a batch file's arguments or that the interpreter acts on outside
/// quotes.
constexpr const wchar_t* kBatchQuoted = L" \t,;=&|<>()^!";

/// Appends `argument` for a batch file; false when it cannot be passed on unchanged.
bool append_batch_argument(WideText* out, const wchar_t* argument) {
  if (std::wcspbrk(argument, kBatchRefused)) return false;
  const bool quoted = argument[0] == L'\0' || std::wcspbrk(argument, kBatchQuoted);
  if (quoted) append(out, L'"');
  append(out, argument);
  if (quoted) append(out, L'"');
  return true;
}

/// True when `program` names a batch file (.cmd or .bat, in any case).
bool is_batch(const char* program) {
  const size_t length = std::strlen(program);
  if (length < 4) return false;
  char extension[4];
  for (int i = 0; i < 4; ++i) {
    const char c = program[length - 4 + i];
    extension[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return std::memcmp(extension, ".cmd", 4) == 0 || std::memcmp(extension, ".bat", 4) == 0;
}

/// The command interpreter's path into `out`: %COMSPEC%, else cmd.exe in the system folder.
bool interpreter_path(WidePath* out) {
  const DWORD got = GetEnvironmentVariableW(L"COMSPEC", out->text, kMaxPathSize);
  if (got > 0 && got < kMaxPathSize) return true;
  const UINT folder = GetSystemDirectoryW(out->text, kMaxPathSize);
  const wchar_t kName[] = L"\\cmd.exe";
  if (folder == 0 || folder + sizeof(kName) / sizeof(wchar_t) > kMaxPathSize) return false;
  std::memcpy(out->text + folder, kName, sizeof(kName));
  return true;
}

/// The length of the name of the environment entry `entry` ("NAME=VALUE"). A leading '='
/// belongs to the name (the system keeps the current folders of drives as "=C:=C:\...").
size_t name_length(const wchar_t* entry) {
  const wchar_t* equals = std::wcschr(entry + (entry[0] == L'=' ? 1 : 0), L'=');
  return equals ? static_cast<size_t>(equals - entry) : std::wcslen(entry);
}

/// True when `a` and `b`, of the given lengths, are the same name: case is ignored.
bool same_name(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length) {
  return CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE) ==
         CSTR_EQUAL;
}

/// The added variables in UTF-16, as "NAME=VALUE" each; freed by free_variables.
struct WideVariables {
  wchar_t* entries[kPlatformRunMaxVariables];
  size_t name_lengths[kPlatformRunMaxVariables];
  int count;
};

void free_variables(WideVariables* variables) {
  for (int i = 0; i < variables->count; ++i) std::free(variables->entries[i]);
  variables->count = 0;
}

/// Converts and checks the added variables; false when one is not acceptable.
bool make_variables(const PlatformRunEnvironment* added, WideVariables* out) {
  out->count = 0;
  if (!added) return true;
  if (added->count < 0 || added->count > kPlatformRunMaxVariables) return false;
  for (int i = 0; i < added->count; ++i) {
    const PlatformRunVariable& v = added->variables[i];
    if (!v.name || !v.value || v.name[0] == '\0' || std::strchr(v.name, '=')) return false;
    wchar_t* name = to_wide(v.name);
    wchar_t* value = to_wide(v.value);
    wchar_t* entry = nullptr;
    if (name && value) {
      const size_t name_units = std::wcslen(name);
      const size_t value_units = std::wcslen(value);
      entry = static_cast<wchar_t*>(std::malloc((name_units + value_units + 2) * sizeof(wchar_t)));
      if (entry) {
        std::memcpy(entry, name, name_units * sizeof(wchar_t));
        entry[name_units] = L'=';
        std::memcpy(entry + name_units + 1, value, (value_units + 1) * sizeof(wchar_t));
        out->name_lengths[out->count] = name_units;
      }
    }
    std::free(name);
    std::free(value);
    if (!entry) {
      free_variables(out);
      return false;
    }
    out->entries[out->count++] = entry;
  }
  return true;
}

/// The program's environment block: this process's entries but those an added variable
/// replaces, then the added ones; each zero-terminated, with one more zero at the end.
/// Allocated; null when memory ran out.
wchar_t* make_environment(const WideVariables& added) {
  wchar_t* current = GetEnvironmentStringsW();
  size_t units = 1;
  for (const wchar_t* e = current; e && *e; e += std::wcslen(e) + 1) units += std::wcslen(e) + 1;
  for (int i = 0; i < added.count; ++i) units += std::wcslen(added.entries[i]) + 1;
  auto* block = static_cast<wchar_t*>(std::malloc((units + 1) * sizeof(wchar_t)));
  if (block) {
    size_t next = 0;
    for (const wchar_t* e = current; e && *e; e += std::wcslen(e) + 1) {
      bool replaced = false;
      for (int i = 0; i < added.count && !replaced; ++i)
        replaced = same_name(e, name_length(e), added.entries[i], added.name_lengths[i]);
      if (replaced) continue;
      const size_t length = std::wcslen(e) + 1;
      std::memcpy(block + next, e, length * sizeof(wchar_t));
      next += length;
    }
    for (int i = 0; i < added.count; ++i) {
      bool replaced_later = false;
      for (int j = i + 1; j < added.count && !replaced_later; ++j)
        replaced_later = same_name(added.entries[i], added.name_lengths[i], added.entries[j],
                                   added.name_lengths[j]);
      if (replaced_later) continue;
      const size_t length = std::wcslen(added.entries[i]) + 1;
      std::memcpy(block + next, added.entries[i], length * sizeof(wchar_t));
      next += length;
    }
    // An empty block still needs two zeros.
    if (next == 0) block[next++] = L'\0';
    block[next] = L'\0';
  }
  if (current) FreeEnvironmentStringsW(current);
  return block;
}

PlatformRunOutcome outcome_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return PlatformRunOutcome::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return PlatformRunOutcome::kNotExecutable;
    case ERROR_DIRECTORY:
      return PlatformRunOutcome::kFolderFailed;
    default:
      return PlatformRunOutcome::kFailed;
  }
}

/// Keeps this process alive through Ctrl+C and Ctrl+Break while it waits: the console
/// sends them to the program as well, which decides for itself.
BOOL WINAPI ignore_interrupts(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

/// The command line for `program` and `arguments`; false when an argument cannot be passed
/// on (refused) or memory ran out (`*out` has no text then).
bool make_command_line(const wchar_t* wide_program, bool batch, const WidePath& interpreter,
                       const char* const* arguments, int count, WideText* out) {
  if (!make_text(out, kMaxCommandLineUnits)) return false;
  bool accepted = !std::wcschr(wide_program, L'"');
  if (batch) {
    // The batch file's own path is always quoted.
    accepted = accepted && !std::wcspbrk(wide_program, kBatchRefused);
    append(out, L'"');
    append(out, interpreter.text);
    append(out, L"\" /d /s /c \"\"");
    append(out, wide_program);
    append(out, L'"');
  } else {
    append(out, L'"');
    append(out, wide_program);
    append(out, L'"');
  }
  for (int i = 0; i < count && accepted; ++i) {
    wchar_t* argument = to_wide(arguments[i]);
    if (!argument) {
      accepted = false;
      break;
    }
    append(out, L' ');
    if (batch) {
      accepted = append_batch_argument(out, argument);
    } else {
      append_quoted(out, argument);
    }
    std::free(argument);
  }
  if (batch) append(out, L'"');
  if (!accepted || out->overflow) {
    std::free(out->text);
    out->text = nullptr;
    return false;
  }
  return true;
}

}  // namespace

bool platform_run(const char* program, const char* const* arguments, int count, const char* folder,
                  const PlatformRunEnvironment* added, PlatformRunResult* result) {
  *result = {PlatformRunOutcome::kRefused, 0, 0, 0};
  if (!program || count < 0 || count > kPlatformRunMaxArguments || (count > 0 && !arguments))
    return false;
  for (int i = 0; i < count; ++i)
    if (!arguments[i]) return false;
  WidePath wide_program, wide_folder, interpreter;
  if (!utf8_to_wide(program, &wide_program)) return false;
  if (folder && !utf8_to_wide(folder, &wide_folder)) return false;

  if (folder) {
    const DWORD attributes = GetFileAttributesW(wide_folder.text);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      result->outcome = PlatformRunOutcome::kFolderFailed;
      result->error = attributes == INVALID_FILE_ATTRIBUTES ? static_cast<int>(GetLastError())
                                                            : ERROR_DIRECTORY;
      return false;
    }
  }
  const bool batch = is_batch(program);
  if (batch) {
    // The interpreter would start and only then miss the file: look first.
    if (GetFileAttributesW(wide_program.text) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      result->outcome = outcome_of(error);
      result->error = static_cast<int>(error);
      return false;
    }
    if (!interpreter_path(&interpreter)) {
      result->outcome = PlatformRunOutcome::kFailed;
      result->error = static_cast<int>(GetLastError());
      return false;
    }
  }

  WideVariables variables;
  if (!make_variables(added, &variables)) return false;
  WideText command_line;
  if (!make_command_line(wide_program.text, batch, interpreter, arguments, count, &command_line)) {
    free_variables(&variables);
    return false;
  }
  wchar_t* environment = make_environment(variables);
  free_variables(&variables);
  if (!environment) {
    std::free(command_line.text);
    result->outcome = PlatformRunOutcome::kFailed;
    result->error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  SetConsoleCtrlHandler(ignore_interrupts, TRUE);
  const BOOL started =
      CreateProcessW(batch ? interpreter.text : wide_program.text, command_line.text, nullptr,
                     nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, environment,
                     folder ? wide_folder.text : nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  std::free(command_line.text);
  std::free(environment);
  if (!started) {
    SetConsoleCtrlHandler(ignore_interrupts, FALSE);
    result->outcome = outcome_of(start_error);
    result->error = static_cast<int>(start_error);
    return false;
  }
  CloseHandle(process.hThread);
  DWORD exit_code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &exit_code)) {
    result->outcome = PlatformRunOutcome::kExited;
    result->exit_code = exit_code;
  } else {
    result->outcome = PlatformRunOutcome::kFailed;
    result->error = static_cast<int>(GetLastError());
  }
  CloseHandle(process.hProcess);
  SetConsoleCtrlHandler(ignore_interrupts, FALSE);
  return result->outcome == PlatformRunOutcome::kExited;
}
