// `jcpack sfx`: makes a self-extractor, a stub program followed by a named archive of files
// and folders (see pack/named_archive.h for the layout).
#pragma once

#include "tools/jcpack_options.h"

/// Runs `jcpack sfx` as `line` asks (its operands are the PATHs) and returns the exit code:
/// 0 when OUT was written, 1 when an input, the stub or OUT failed or OUT exists without -f
/// (OUT is then neither created nor changed), 2 for a usage mistake. Prints its own messages.
int jcpack_sfx(const CommandLine& line);
