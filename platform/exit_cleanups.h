// The record behind platform_at_exit and platform_remove_on_exit, shared by the back ends;
// each back end decides when the cleanups run (a normal end, a signal or console event)
// and how the registered file is removed.
#pragma once

#include "platform/process.h"

struct ExitCleanups {
  void (*cleanups[kMaxExitCleanups])();
  int count;
  char remove_path[kMaxRemoveOnExitPath];  ///< removed at the end while not empty
};

extern ExitCleanups exit_cleanups;

/// Adds `cleanup`; false when kMaxExitCleanups are registered already.
bool exit_cleanups_add(void (*cleanup)());

/// Registers `path` (null: none) as the file to remove at the end; false when too long.
/// The first byte is stored last, so a handler that runs meanwhile never sees half a path.
bool exit_cleanups_set_remove_path(const char* path);

/// Runs the registered cleanups, newest first.
void exit_cleanups_run();
