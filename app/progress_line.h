// The progress line of a long extraction on a terminal: "42% 10.3 MB of 24.5 MB  NAME", in
// place of the entries' announcements, redrawn at most every kProgressIntervalMs. A console
// that writes lines gets it after a carriage return, ended by an erase to the line's end; a
// painted console gets it painted at the cursor, which stays where it is. Any other line
// clears it first, and it is drawn again at the next progress.
//
// The self-extractor's set draws it (progress_line.cpp); the built-in program's set
// (dialogue_program.cpp) never shows one, which keeps the program's own bytes small.
#pragma once

#include <cstdint>

/// Extractions of at least this many bytes show a progress line on a terminal.
inline constexpr uint64_t kProgressMinBytes = 4000000;
inline constexpr uint64_t kProgressIntervalMs = 100;

/// Starts the progress of an extraction of `total` bytes: shown when the console is a
/// `terminal`, the run is not `quiet` and `total` reaches kProgressMinBytes.
void progress_line_start(uint64_t total, bool terminal, bool quiet);

/// Whether the run shows the line (and no announcements).
bool progress_line_active();

/// The name of the entry being extracted, as the console shows it.
void progress_line_name(const char* name);

/// The extraction has dealt with `bytes`; the line is redrawn when it is due.
void progress_line_to(uint64_t bytes);

/// Takes the line off the screen (until the next progress).
void progress_line_clear();

/// Takes the line off the screen for good.
void progress_line_end();
