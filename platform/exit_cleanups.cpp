#include "platform/exit_cleanups.h"

#include <cstring>

ExitCleanups exit_cleanups;

bool exit_cleanups_add(void (*cleanup)()) {
  if (exit_cleanups.count >= kMaxExitCleanups) return false;
  exit_cleanups.cleanups[exit_cleanups.count++] = cleanup;
  return true;
}

bool exit_cleanups_set_remove_path(const char* path) {
  exit_cleanups.remove_path[0] = 0;
  if (!path) return true;
  const size_t length = std::strlen(path);
  if (length >= sizeof exit_cleanups.remove_path) return false;
  std::memcpy(exit_cleanups.remove_path + 1, path + 1, length);
  exit_cleanups.remove_path[0] = path[0];
  return true;
}

void exit_cleanups_run() {
  for (int i = exit_cleanups.count - 1; i >= 0; --i) exit_cleanups.cleanups[i]();
}
