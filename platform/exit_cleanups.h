// The record behind platform_at_exit and platform_remove_on_exit, shared by the back ends;
// each back end decides when the cleanups run (a normal end, a signal or console event)
// and how the registered files are removed.
#pragma once

#include "platform/process.h"

struct ExitCleanups {
  void (*cleanups[kMaxExitCleanups])();
  int count;
  /// Files removed at the end, each while its path is not empty.
  char remove_paths[kRemoveOnExitSlots][kMaxRemoveOnExitPath];
};

extern ExitCleanups exit_cleanups;

/// Adds `cleanup`; false when kMaxExitCleanups are registered already.
bool exit_cleanups_add(void (*cleanup)());

/// Registers `path` (null: none) in `slot` as a file to remove at the end; false when the
/// slot does not exist or the path is too long. The first byte is stored last, so a handler
/// that runs meanwhile never sees half a path.
bool exit_cleanups_set_remove_path(int slot, const char* path);

/// True when any slot holds a path.
bool exit_cleanups_have_remove_paths();

/// Runs the registered cleanups, newest first.
void exit_cleanups_run();

/// The end of the process as both back ends do it: removes every registered file with
/// `remove` (which must be safe where the back end calls this, a signal handler included),
/// then runs the registered cleanups, newest first.
void exit_cleanups_finish(bool (*remove)(const char* path));
