// The program's options. Without arguments the program runs as it always has: it extracts
// into its own folder, asks before it overwrites and waits for a key at the end. Arguments
// change that:
//
//   -y, --yes               overwrite without asking, no closing key wait
//   -n, --no-overwrite      keep every existing file, no questions
//   -o DIR, --output DIR    extract into DIR (made with its parents); also -oDIR, --output=DIR,
//                           --target DIR, --target=DIR, -d DIR, -dDIR
//   -l, --list              list the entries and their sizes, write nothing
//   -t, --test, --check     decode and verify every entry, write nothing
//   -q, --quiet             print failures only
//   --no-space-check        no comparison of the free space with what the run writes
//   --no-wait               no closing key wait
//   -h, --help (/? on Windows), -V, --version
//   /S (Windows)            an unattended run: as -y --no-wait
//
// A self-extractor takes its own options too (see front_end.h): an installer's --info,
// --no-run, --keep, --accept, and `--`, after which every argument is passed on to its
// command.
//
// An option given again with the same meaning changes nothing. -y with -n, --list with
// --test, two different output folders, an unknown option, an argument that is not an
// option and a missing or empty value are usage errors.
#pragma once

#include <cstdint>

#include "app/dialogue.h"
#include "app/overwrite.h"

/// What a run does.
enum class ProgramMode : uint8_t {
  extract,      ///< extract the entries
  list,         ///< list the entries, write nothing
  test,         ///< decode and verify the entries, write nothing
  help,         ///< print the usage
  version,      ///< print the version
  info,         ///< a self-extractor's: print what it holds and does, write nothing
  usage_error,  ///< the arguments are wrong: usage on standard error, exit code 2
};

/// The run's options, as the arguments set them.
struct ProgramOptions {
  ProgramMode mode = ProgramMode::extract;
  OverwritePolicy overwrite = OverwritePolicy::ask;
  bool wait = true;                     ///< wait for a key at the end
  bool quiet = false;                   ///< print failures only
  bool space_check = true;              ///< compare the free space with what the run writes
  const char* output = nullptr;         ///< folder to extract into; null: the program's own
  Text problem = Text::unknown_option;  ///< for usage_error: what is wrong
  const char* argument = nullptr;       ///< for usage_error: the argument concerned, if any
  bool run = true;                      ///< an installer's command runs after the extraction
  bool keep = false;                    ///< an installer's temporary folder is kept
  bool accept = false;                  ///< a licence is taken as accepted, not shown
  int passed_count = 0;                 ///< arguments after `--`, passed on to the command
  const char* const* passed = nullptr;
};

/// The argument reader's state, for the options a front end takes itself.
struct OptionParser {
  int count;
  const char* const* arguments;
  int next;  ///< index of the next argument
  ProgramOptions options;
  bool mode_set;
  bool overwrite_set;
};

/// Sets the mode; the same mode again changes nothing, another one is a usage error.
void options_set_mode(OptionParser& parser, ProgramMode mode, const char* argument);

inline constexpr int kExitUsage = 2;
inline constexpr char kProgramVersion[] = "entpacker " ENTPACKER_VERSION;

/// Reads the `count` arguments (the program's name not among them). Without arguments:
/// extract, ask, wait.
ProgramOptions options_parse(int count, const char* const* arguments);
