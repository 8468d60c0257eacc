// jcpack's command line: one reading of the options for every command, with getopt_long.
// Options go anywhere before `--`, before or after the command word and the operands, as
// `-l9`, `-l 9`, `--level=9` or `--level 9`; a long option may be shortened to any prefix
// that names it alone. Each command takes the options of its own; any other is a usage
// mistake that names it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/tool_io.h"

/// What the command line asks for, once read.
struct CommandLine {
  std::string command;
  std::vector<std::string> operands;  ///< what follows the command word, in order
  int level = 0;                      ///< -l; 0 when not given (the command's default)
  bool store = false;                 ///< pack --store
  bool force = false;                 ///< -f: an existing OUT is replaced
  Verbosity verbosity = Verbosity::normal;
  // sfx
  std::string output;      ///< -o OUT
  unsigned threads = 0;    ///< -T; 0: one per core
  unsigned block_mib = 0;  ///< --block-size; 0 when not given
  std::string platform;    ///< --platform linux|win32|win64
  std::string stub;        ///< --stub FILE
  std::string title;       ///< --title TEXT; empty when not given
  std::string language;    ///< --lang en|de; empty when not given
  std::string run;         ///< --run 'CMD ARGS', as given; empty when not given
  bool temp = false;       ///< --temp: extract into a new folder, removed after the command
  std::string license;     ///< --license FILE; empty when not given
};

/// The most threads -T takes.
inline constexpr unsigned kMaxThreads = 256;

/// Reads `argv`. True when `line` holds a command to run; false when there is nothing more
/// to do, with `*exit_code` set: 0 after the usage or the version was printed, kExitUsage
/// after a usage mistake was reported.
bool parse_command_line(int argc, char** argv, CommandLine* line, int* exit_code);
