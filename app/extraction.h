// The program's own script: start-up of the runtime, writing the carried archive to the
// temporary file, extracting its six entries next to the program, the overwrite
// question, the closing dialogue and shutdown.
#pragma once

#include <cstdint>

#include "pack/archive_digest.h"

/// The program's messages (the overwrite question is in app/overwrite.h; each entry's
/// announcement in the payload table).
inline constexpr char kExtractionFailed[] = "FEHLER Entpacken";
inline constexpr char kArchiveOpened[] = "pac datei erfolgreich geoeffnet";
inline constexpr char kArchiveNotOpened[] = "Fehler beim oeffnen der pac datei";
inline constexpr char kExtractionDone[] = "Entpacken erfolgreich beendet!";
inline constexpr char kClosingPrompt[] = "Beliebige Taste zum beenden...";
/// The program without a built-in archive, started without one appended.
inline constexpr char kNoArchive[] = "Kein Archiv angehaengt: nichts zu entpacken";

/// The temporary archive is "pactest.pac"; when something of that name exists already, the
/// first free one of "pactest-2.pac" to "pactest-99.pac" is taken instead.
inline constexpr char kTemporaryArchiveStem[] = "pactest";
inline constexpr char kTemporaryArchiveSeparator[] = "-";
inline constexpr char kTemporaryArchiveExtension[] = ".pac";
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

/// Runs the program from start-up to shutdown with `archive` (size bytes) as the carried
/// archive and returns the exit code: 0 when every entry was written or skipped by the
/// user's answer, 1 when anything failed. The archive is used only when its bytes, and the
/// temporary archive written from them, have the digest `expected`; otherwise no file is
/// touched. `program_file` is the program's own file name (null: the running program's),
/// whose directory receives the files.
int extraction_run(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected,
                   const char* program_file);

/// Runs the program as extraction_run does, with the `count` arguments it was given (the
/// program's name not among them; see app/options.h). The end of the program's own file
/// is read first: a named archive appended there is checked whole and used in place of
/// the carried one; a damaged one stops the run before any file is touched. A carried
/// archive of 0 bytes stands for none: without an appended archive the run reports that
/// and fails. Without arguments and without an appended archive the run is the one of
/// extraction_run. Returns 2 (kExitUsage) for wrong arguments, after the usage on
/// standard error.
int extraction_run_with_arguments(const uint8_t* archive, uint32_t size,
                                  const ArchiveDigest& expected, const char* program_file,
                                  int count, const char* const* arguments);

/// Runs the program with its carried archive and its arguments and ends the process;
/// never returns.
[[noreturn]] void extraction_main(void* module_instance);

/// The release step of the runtime libraries at shutdown: the pack reader, every file
/// still open, the file layer's object heap.
void runtime_release();

/// Waits until a key goes down (a key typed ahead counts) or the input has ended.
void wait_for_any_key();
