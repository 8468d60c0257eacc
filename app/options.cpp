#include "app/options.h"

#include <cstring>

#include "app/front_end.h"

namespace {

using Parser = OptionParser;

void usage_error(Parser& parser, Text problem, const char* argument) {
  if (parser.options.mode == ProgramMode::usage_error) return;  // the first problem counts
  parser.options.mode = ProgramMode::usage_error;
  parser.options.problem = problem;
  parser.options.argument = argument;
}

bool is(const char* argument, const char* short_form, const char* long_form) {
  return (short_form && std::strcmp(argument, short_form) == 0) ||
         (long_form && std::strcmp(argument, long_form) == 0);
}

}  // namespace

void options_set_mode(OptionParser& parser, ProgramMode mode, const char* argument) {
  if (parser.options.mode == ProgramMode::usage_error) return;  // a mistake is not undone
  if (parser.mode_set && parser.options.mode != mode)
    return usage_error(parser, Text::conflict, argument);
  parser.mode_set = true;
  parser.options.mode = mode;
}

namespace {

void set_overwrite(Parser& parser, OverwritePolicy policy, const char* argument) {
  if (parser.overwrite_set && parser.options.overwrite != policy)
    return usage_error(parser, Text::conflict, argument);
  parser.overwrite_set = true;
  parser.options.overwrite = policy;
}

void set_output(Parser& parser, const char* value, const char* argument) {
  if (!value || !*value) return usage_error(parser, Text::missing_value, argument);
  if (parser.options.output && std::strcmp(parser.options.output, value) != 0)
    return usage_error(parser, Text::given_twice, argument);
  parser.options.output = value;
}

/// The value of an output option given as its own argument, joined to a short form
/// (-oDIR) or after `=` to a long one (--output=DIR); true when `argument` is that option.
bool take_output_form(Parser& parser, const char* argument, const char* short_form,
                      const char* long_form) {
  if (is(argument, short_form, long_form)) {
    const char* value = parser.next < parser.count ? parser.arguments[parser.next++] : nullptr;
    set_output(parser, value, argument);
    return true;
  }
  const size_t long_length = long_form ? std::strlen(long_form) : 0;
  if (long_form && std::strncmp(argument, long_form, long_length) == 0 &&
      argument[long_length] == '=') {
    set_output(parser, argument + long_length + 1, argument);
    return true;
  }
  if (short_form && std::strncmp(argument, short_form, 2) == 0 && argument[2] != 0) {
    set_output(parser, argument + 2, argument);
    return true;
  }
  return false;
}

/// -o/--output, --target and -d, which all name the output folder.
bool take_output(Parser& parser, const char* argument) {
  return take_output_form(parser, argument, "-o", "--output") ||
         take_output_form(parser, argument, nullptr, "--target") ||
         take_output_form(parser, argument, "-d", nullptr);
}

void take_yes(Parser& parser, const char* argument) {
  set_overwrite(parser, OverwritePolicy::all, argument);
  parser.options.wait = false;
}

/// The options that take no value; false when `argument` is none of them.
bool take_flag(Parser& parser, const char* argument) {
  if (is(argument, "-y", "--yes")) {
    take_yes(parser, argument);
  } else if (is(argument, "-n", "--no-overwrite")) {
    set_overwrite(parser, OverwritePolicy::never, argument);
  } else if (is(argument, "-l", "--list")) {
    options_set_mode(parser, ProgramMode::list, argument);
  } else if (is(argument, "-t", "--test") || is(argument, nullptr, "--check")) {
    options_set_mode(parser, ProgramMode::test, argument);
  } else if (is(argument, "-q", "--quiet")) {
    parser.options.quiet = true;
  } else if (is(argument, nullptr, "--no-space-check")) {
    parser.options.space_check = false;
  } else if (is(argument, nullptr, "--no-wait")) {
    parser.options.wait = false;
#if defined(_WIN32)
  } else if (is(argument, "/S", nullptr)) {
    take_yes(parser, argument);
  } else if (is(argument, "-h", "--help") || is(argument, "/?", nullptr)) {
#else
  } else if (is(argument, "-h", "--help")) {
#endif
    options_set_mode(parser, ProgramMode::help, argument);
  } else if (is(argument, "-V", "--version")) {
    options_set_mode(parser, ProgramMode::version, argument);
  } else {
    return false;
  }
  return true;
}

void take(Parser& parser, const char* argument) {
  if (!take_flag(parser, argument) && !take_output(parser, argument) &&
      !front_end_option(parser, argument))
    usage_error(parser, Text::unknown_option, argument);
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
