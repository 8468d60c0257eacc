#include "tools/sfx_installer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "pack/entry_names.h"
#include "pack/named_settings.h"
#include "pack/run_command.h"
#include "tools/tool_io.h"

namespace {

/// The bytes a UTF-8 text may start with to mark itself as such; they are not kept.
constexpr uint8_t kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

/// The first bytes of a script that names its interpreter.
constexpr char kScriptMagic[2] = {'#', '!'};

/// Endings of the names Windows starts as programs, in lower case.
constexpr const char* kWindowsProgramEndings[] = {".exe", ".cmd", ".bat"};

/// What `status` means, in words.
std::string run_status_text(RunCommandStatus status) {
  switch (status) {
    case RunCommandStatus::ok:
      return "";
    case RunCommandStatus::empty:
      return "the command names no program (it is empty, or its first word is)";
    case RunCommandStatus::too_long:
      return "the command is longer than " + std::to_string(kRunCommandMaxSize) + " bytes";
    case RunCommandStatus::too_many_words:
      return "the command has more than " + std::to_string(kRunCommandMaxWords) + " words";
    case RunCommandStatus::open_quote:
      return "the command has a quote that is not closed";
    case RunCommandStatus::trailing_backslash:
      return "the command ends with a backslash that escapes nothing";
    case RunCommandStatus::control_character:
      return "the command holds a control character (only blanks and tabs separate words)";
  }
  return "the command cannot be read";
}

/// The first word of `command`, split already without a mistake.
std::string program_word(const std::string& command) {
  const auto words = std::make_unique<RunCommandWords>();
  run_command_split(command.data(), command.size(), words.get());
  return words->words[0];
}

/// Whether `name` ends in `ending` (lower-case ASCII), in any case.
bool ends_in(const std::string& name, const char* ending) {
  const size_t size = std::strlen(ending);
  if (name.size() < size) return false;
  for (size_t i = 0; i < size; ++i) {
    char c = name[name.size() - size + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != ending[i]) return false;
  }
  return true;
}

/// Whether the file of `item` starts with #!. False after a message when it cannot be read.
bool starts_as_script(const SourceItem& item, bool* script) {
  const int fd = open(item.source.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                                               (item.follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return fail(system_error(printable(item.source), "cannot read"));
  char head[sizeof kScriptMagic] = {};
  const ssize_t got = read_full(fd, reinterpret_cast<uint8_t*>(head), sizeof head);
  close(fd);
  if (got < 0) return fail(system_error(printable(item.source), "cannot read"));
  *script = got == ssize_t(sizeof head) && std::memcmp(head, kScriptMagic, sizeof head) == 0;
  return true;
}

/// Checks that `item`, the program named `shown`, can be started where the archive goes.
/// False after a message.
bool program_starts(const SourceItem& item, const std::string& shown, bool windows) {
  if (windows) {
    for (const char* ending : kWindowsProgramEndings) {
      if (ends_in(item.name, ending)) return true;
    }
    return fail("--run: the command's program " + shown +
                " is not one Windows starts: its name must end in .exe, .cmd or .bat");
  }
  bool script = item.name.size() > 3 && item.name.compare(item.name.size() - 3, 3, ".sh") == 0;
  if (item.executable || script) return true;
  if (!starts_as_script(item, &script)) return false;
  return script || fail("--run: the command's program " + shown +
                        " is neither executable nor a script that sh runs (one whose bytes "
                        "start with #! or whose name ends in .sh)");
}

}  // namespace

std::string run_command_mistake(const std::string& command) {
  const auto words = std::make_unique<RunCommandWords>();
  return run_status_text(run_command_split(command.data(), command.size(), words.get()));
}

bool run_program_fits(const std::string& command, const Gathered& g) {
  const std::string program = program_word(command);
  const std::string shown = "'" + printable(program) + "'";
  const auto* bytes = reinterpret_cast<const uint8_t*>(program.data());
  const EntryNameProblem problem = entry_name_check(bytes, program.size());
  if (problem != EntryNameProblem::ok) {
    return fail("--run: the command's program " + shown + " is not a safe name in the archive (" +
                entry_name_problem_text(problem) + ")");
  }
  for (const SourceItem& item : g.items) {
    if (item.name == program && !item.folder) return program_starts(item, shown, g.windows);
  }
  return fail("--run: the command's program " + shown + " is not a file of the archive");
}

bool read_license(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(system_error(path, "cannot read the licence"));
  std::vector<uint8_t> bytes;
  bool too_large = false;
  const bool read =
      read_all(fd, kNamedLicenseMaxSize + sizeof kByteOrderMark, 0, &bytes, &too_large);
  const int error = errno;
  close(fd);
  errno = error;
  if (!read) return fail(system_error(path, "cannot read the licence"));
  size_t start = 0;
  if (bytes.size() >= sizeof kByteOrderMark &&
      std::memcmp(bytes.data(), kByteOrderMark, sizeof kByteOrderMark) == 0) {
    start = sizeof kByteOrderMark;
  }
  const size_t size = bytes.size() - start;
  if (size == 0) return fail(path + ": the licence is empty");
  if (too_large || size > kNamedLicenseMaxSize) {
    return fail(path + ": the licence is longer than " + std::to_string(kNamedLicenseMaxSize) +
                " bytes");
  }
  if (!named_license_valid(bytes.data() + start, size)) {
    return fail(path +
                ": the licence is not UTF-8 text without control characters other than "
                "tab, line feed, form feed and carriage return");
  }
  text->assign(reinterpret_cast<const char*>(bytes.data() + start), size);
  return true;
}
