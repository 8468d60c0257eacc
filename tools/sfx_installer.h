// `jcpack sfx` of an installer: the command it runs after a complete extraction and the
// licence it shows first, checked before anything is written. The command's first word
// names a file of the archive that the self-extractor can start on its platform.
#pragma once

#include <string>

#include "tools/sfx_gather.h"

/// The mistake in `command` as --run takes it, in words ("the command has a quote that is
/// not closed"); empty when it splits into words and names a program.
std::string run_command_mistake(const std::string& command);

/// Checks that the program of `command` (one without a mistake) is a safe name of a file
/// among `g`'s items that the self-extractor can start: for Windows (`g.windows`) a name
/// ending in .exe, .cmd or .bat; otherwise an executable file or a script that sh runs (its
/// bytes start with #!, or its name ends in .sh). False after a message.
bool run_program_fits(const std::string& command, const Gathered& g);

/// Reads the licence file `path` into `text` without a leading UTF-8 byte-order mark, and
/// checks it by the licence rule. False after a message with the reason.
bool read_license(const std::string& path, std::string* text);
