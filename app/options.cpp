#include "app/options.h"

#include <cstring>

const char* const kUsageLines[] = {
    "Aufruf: entpacker [Optionen]",
    "  -y, --yes           ueberschreiben ohne Frage, nicht warten",
    "  -n, --no-overwrite  vorhandene Dateien behalten",
    "  -o, --output DIR    nach DIR entpacken",
    "  -l, --list          Eintraege auflisten",
    "  -t, --test          Eintraege pruefen",
    "  --no-wait           am Ende nicht warten",
    "  -h, --help          Hilfe",
    "  -V, --version       Version",
    nullptr,
};

namespace {

constexpr char kUnknownOption[] = "unbekannte Option";
constexpr char kMissingValue[] = "fehlender Wert fuer";
constexpr char kTwice[] = "doppelt angegeben";
constexpr char kConflict[] = "nicht zusammen erlaubt";

/// The argument reader's state.
struct Parser {
  int count;
  const char* const* arguments;
  int next;  ///< index of the next argument
  ProgramOptions options;
  bool mode_set;
  bool overwrite_set;
};

void usage_error(Parser& parser, const char* problem, const char* argument) {
  if (parser.options.mode == ProgramMode::usage_error) return;  // the first problem counts
  parser.options.mode = ProgramMode::usage_error;
  parser.options.problem = problem;
  parser.options.argument = argument;
}

bool is(const char* argument, const char* short_form, const char* long_form) {
  return (short_form && std::strcmp(argument, short_form) == 0) ||
         (long_form && std::strcmp(argument, long_form) == 0);
}

void set_mode(Parser& parser, ProgramMode mode, const char* argument) {
  if (parser.mode_set) return usage_error(parser, kConflict, argument);
  parser.mode_set = true;
  parser.options.mode = mode;
}

void set_overwrite(Parser& parser, OverwritePolicy policy, const char* argument) {
  if (parser.overwrite_set) return usage_error(parser, kConflict, argument);
  parser.overwrite_set = true;
  parser.options.overwrite = policy;
}

void set_output(Parser& parser, const char* value, const char* argument) {
  if (!value || !*value) return usage_error(parser, kMissingValue, argument);
  if (parser.options.output) return usage_error(parser, kTwice, argument);
  parser.options.output = value;
}

/// The value of -o/--output given as its own argument, -oDIR or --output=DIR; true when
/// `argument` is that option.
bool take_output(Parser& parser, const char* argument) {
  constexpr char kShort[] = "-o";
  constexpr char kLong[] = "--output";
  const size_t short_length = sizeof kShort - 1;
  const size_t long_length = sizeof kLong - 1;
  if (is(argument, kShort, kLong)) {
    const char* value = parser.next < parser.count ? parser.arguments[parser.next++] : nullptr;
    set_output(parser, value, argument);
    return true;
  }
  if (std::strncmp(argument, kLong, long_length) == 0 && argument[long_length] == '=') {
    set_output(parser, argument + long_length + 1, argument);
    return true;
  }
  if (std::strncmp(argument, kShort, short_length) == 0 && argument[short_length] != 0) {
    set_output(parser, argument + short_length, argument);
    return true;
  }
  return false;
}

void take(Parser& parser, const char* argument) {
  if (is(argument, "-y", "--yes")) {
    set_overwrite(parser, OverwritePolicy::all, argument);
    parser.options.wait = false;
  } else if (is(argument, "-n", "--no-overwrite")) {
    set_overwrite(parser, OverwritePolicy::never, argument);
  } else if (is(argument, "-l", "--list")) {
    set_mode(parser, ProgramMode::list, argument);
  } else if (is(argument, "-t", "--test")) {
    set_mode(parser, ProgramMode::test, argument);
  } else if (is(argument, nullptr, "--no-wait")) {
    parser.options.wait = false;
#if defined(_WIN32)
  } else if (is(argument, "-h", "--help") || is(argument, "/?", nullptr)) {
#else
  } else if (is(argument, "-h", "--help")) {
#endif
    set_mode(parser, ProgramMode::help, argument);
  } else if (is(argument, "-V", "--version")) {
    set_mode(parser, ProgramMode::version, argument);
  } else if (!take_output(parser, argument)) {
    usage_error(parser, kUnknownOption, argument);
  }
}

}  // namespace

ProgramOptions options_parse(int count, const char* const* arguments) {
  Parser parser{count, arguments, 0, ProgramOptions{}, false, false};
  while (parser.next < parser.count) {
    const char* argument = parser.arguments[parser.next++];
    take(parser, argument ? argument : "");
  }
  return parser.options;
}
