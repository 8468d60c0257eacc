// What the self-extractor's front end does beyond the built-in program's: its archive's title
// and language, a run's first line with the files, the bytes and the folder, the free-space
// check and the progress line, and an installer's licence, temporary folder and command
// (app/installer.cpp). Each program links one set (as it links one decoder set):
// the stub front_end_stub.cpp, the built-in program front_end_program.cpp, which keeps the
// program's own bytes small and its runs as they were (German, its archive opened line, no
// title, no check).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/archive_source.h"
#include "app/options.h"
#include "pack/archive_digest.h"

/// An appended archive's settings as a run shows them.
struct RunSettings {
  bool appended;                       ///< a trailer is there, sound or not
  char title[kNamedTitleMaxSize + 1];  ///< as the console shows it; empty: none
  bool installer;                      ///< a command is set
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

/// The built-in program's run without arguments: writes the carried `archive` (`size`
/// bytes, used only when its digest is `expected`) to a temporary file beside the program,
/// extracts its entries beside it and removes the file. False when anything failed, after
/// saying so. Every program links it (carried_run.cpp) but the stub, which carries no
/// archive and never comes here (no_carried_archive.cpp).
bool carried_run(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected);

/// Sets the carried run's pack reader to its state before start-up.
void carried_run_reset();

/// Releases what the carried run's pack reader holds, at shutdown.
void carried_run_release();

/// Takes `argument` when it is one of the self-extractor's own options (an installer's),
/// with what follows it from `parser`; false when it is none of them.
bool front_end_option(OptionParser& parser, const char* argument);

/// Prints the usage lines of the self-extractor's own options through `print`: an
/// installer's only for an installer (`settings`).
void front_end_usage(const RunSettings& settings, void (*print)(const char*));

/// --info: prints the title, the files and their bytes, the archive's own size, the
/// command, whether it runs in a temporary folder and whether a licence is shown.
void front_end_info(const ArchiveSource& source, const RunSettings& settings);

/// Before an extraction of the checked `source` with `*options`: the licence and its
/// question (page by page on a `terminal`), and the temporary folder, which becomes
/// `options->output`. False when the run stops here with nothing written, after saying why.
bool front_end_install_begin(const ArchiveSource& source, ProgramOptions* options, bool terminal);

/// After an extraction that was `sound` or not: runs the installer's command in the output
/// folder (the current one) unless `options` say not to, and removes the temporary folder.
/// The exit code the run ends with: the command's, or 1 when it could not run; -1 when no
/// command ran and the run ends as any other.
int front_end_install_end(const ArchiveSource& source, bool sound, const ProgramOptions& options);
