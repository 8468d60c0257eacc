// The steps of a run that the program's modes share (app/extraction.cpp): failures, the
// overwrite decision, and writing one file in place of its target.
#pragma once

#include <cstdint>

/// What a new file gets before it takes its target's place.
struct TargetAttributes {
  bool set_time;    ///< give it `mtime` as its modification time
  int64_t mtime;    ///< seconds since 1970-01-01 UTC
  bool executable;  ///< make it executable
};

/// Prints `message` and marks the run failed (no success message, exit code 1).
void extraction_fail(const char* message);

/// Whether anything of the run has failed so far.
bool extraction_has_failed();

/// Writes `length` bytes of `data` to a new file beside `target_name` (relative to the
/// current folder), flushed when it replaces a file, closed, gives it `attributes` (null:
/// none), then puts it in the target's place in one rename. Whatever fails, the
/// target keeps what it held and the new file is removed.
bool extraction_write_file(const char* target_name, const uint8_t* data, uint32_t length,
                           const TargetAttributes* attributes);
