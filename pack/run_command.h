// The command an installer runs after a complete extraction, as `jcpack sfx --run` takes it
// and the archive keeps it: one line of text, split into words by this rule:
//
//   - words are separated by spaces and tabs; other control characters are refused;
//   - 'single quotes' keep everything up to the next single quote as it is;
//   - "double quotes" keep everything up to the next unescaped double quote; inside them a
//     backslash before " or before another backslash stands for that character, and a
//     backslash before any other character stays as it is;
//   - outside quotes, a backslash keeps the next character as it is (a backslash and a
//     space: a space inside the word);
//   - quotes may join parts of one word: a'b c'"d" is the word "ab cd"; '' and "" make an
//     empty word.
//
// The first word is the program: a path inside the archive, relative, with `/` between its
// parts. The other words are its fixed arguments; the self-extractor passes each one as it
// is, never through a shell. Like the rest of the archive layer, this uses nothing of the
// standard library beyond fixed-size integers.
#pragma once

#include <cstddef>
#include <cstdint>

/// The longest command and the most words it may have.
inline constexpr size_t kRunCommandMaxSize = 4096;
inline constexpr size_t kRunCommandMaxWords = 64;

/// What splitting a command found.
enum class RunCommandStatus : uint8_t {
  ok,
  empty,               ///< no word at all
  too_long,            ///< more than kRunCommandMaxSize bytes
  too_many_words,      ///< more than kRunCommandMaxWords words
  open_quote,          ///< a quote that is not closed
  trailing_backslash,  ///< a backslash with nothing after it
  control_character,   ///< a byte 0-31 other than a tab, or 127
};

/// The words of a command: each zero-terminated, back to back in `text`.
struct RunCommandWords {
  char text[kRunCommandMaxSize + 1];
  const char* words[kRunCommandMaxWords];
  size_t count;
};

/// Splits the `size` bytes at `command` into `*out` by the rule above; `ok` when it holds
/// at least one word (the first may not be empty).
RunCommandStatus run_command_split(const char* command, size_t size, RunCommandWords* out);
