#include "pack/run_command.h"

namespace {

constexpr char kSingleQuote = '\'';
constexpr char kDoubleQuote = '"';
constexpr char kBackslash = '\\';

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_control(char c) {
  const auto byte = static_cast<uint8_t>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

/// The splitter's state: where it reads, where it writes.
struct Splitter {
  const char* command;
  size_t size;
  size_t at;
  RunCommandWords* out;
  size_t used;  ///< bytes of out->text written
};

void put(Splitter& s, char c) {
  s.out->text[s.used++] = c;
}

/// Reads one quoted part from just after its opening `quote`; false when it is not closed.
bool read_quoted(Splitter& s, char quote) {
  while (s.at < s.size) {
    const char c = s.command[s.at++];
    if (c == quote) return true;
    if (quote == kDoubleQuote && c == kBackslash && s.at < s.size &&
        (s.command[s.at] == kDoubleQuote || s.command[s.at] == kBackslash)) {
      put(s, s.command[s.at++]);
      continue;
    }
    put(s, c);
  }
  return false;
}

/// Reads one word from its first byte on.
RunCommandStatus read_word(Splitter& s) {
  while (s.at < s.size && !is_blank(s.command[s.at])) {
    const char c = s.command[s.at++];
    if (c == kSingleQuote || c == kDoubleQuote) {
      if (!read_quoted(s, c)) return RunCommandStatus::open_quote;
    } else if (c == kBackslash) {
      if (s.at == s.size) return RunCommandStatus::trailing_backslash;
      put(s, s.command[s.at++]);
    } else {
      put(s, c);
    }
  }
  put(s, 0);
  return RunCommandStatus::ok;
}

}  // namespace

RunCommandStatus run_command_split(const char* command, size_t size, RunCommandWords* out) {
  out->count = 0;
  if (size > kRunCommandMaxSize) return RunCommandStatus::too_long;
  for (size_t i = 0; i < size; ++i)
    if (is_control(command[i])) return RunCommandStatus::control_character;
  // Each word takes at most its bytes in the command and a terminating zero, and words are
  // apart by at least one blank: the text never needs more than size + 1 bytes.
  Splitter s{command, size, 0, out, 0};
  for (;;) {
    while (s.at < size && is_blank(command[s.at])) ++s.at;
    if (s.at == size) break;
    if (out->count == kRunCommandMaxWords) return RunCommandStatus::too_many_words;
    out->words[out->count++] = out->text + s.used;
    const RunCommandStatus status = read_word(s);
    if (status != RunCommandStatus::ok) return status;
  }
  if (out->count == 0 || out->words[0][0] == 0) return RunCommandStatus::empty;
  return RunCommandStatus::ok;
}
