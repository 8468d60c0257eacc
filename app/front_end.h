// What the self-extractor's front end does beyond the built-in program's: its archive's title
// and language, a run's first line with the files, the bytes and the folder, the free-space
// check and the progress line. Each program links one set (as it links one decoder set):
// the stub front_end_stub.cpp, the built-in program front_end_program.cpp, which keeps the
// program's own bytes small and its runs as they were (German, its archive opened line, no
// title, no check).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/archive_source.h"

/// An appended archive's settings as a run shows them.
struct RunSettings {
  bool appended;                       ///< a trailer is there, sound or not
  char title[kNamedTitleMaxSize + 1];  ///< as the console shows it; empty: none
};

/// Whether this program's set is the self-extractor's (tests choose what they expect by it).
bool front_end_self_extractor();

/// Reads the title and the language of the archive appended to `own_file` into `*settings`
/// and speaks its language from now on.
void front_end_settings(const char* own_file, RunSettings* settings);

/// Before `source` is extracted into the current folder: the run's first line (unless
/// `quiet`), the free-space check (when `space_check`), and the progress line's start for a
/// `terminal`. False when the space is too little, after saying so.
bool front_end_begin(const ArchiveSource& source, const RunSettings& settings, bool space_check,
                     bool terminal, bool quiet);

/// After the extraction: the progress line is taken away.
void front_end_end();
