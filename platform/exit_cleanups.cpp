#include "platform/exit_cleanups.h"

#include <cstring>

ExitCleanups exit_cleanups;

bool exit_cleanups_add(void (*cleanup)()) {
  if (exit_cleanups.count >= kMaxExitCleanups) return false;
  exit_cleanups.cleanups[exit_cleanups.count++] = cleanup;
  return true;
}

bool exit_cleanups_set_remove_path(int slot, const char* path) {
  if (slot < 0 || slot >= kRemoveOnExitSlots) return false;
  char* kept = exit_cleanups.remove_paths[slot];
  kept[0] = 0;
  if (!path) return true;
  const size_t length = std::strlen(path);
  if (length >= sizeof exit_cleanups.remove_paths[slot]) return false;
  std::memcpy(kept + 1, path + 1, length);
  kept[0] = path[0];
  return true;
}

bool exit_cleanups_have_remove_paths() {
  for (const auto& path : exit_cleanups.remove_paths)
    if (path[0] != 0) return true;
  return false;
}

void exit_cleanups_run() {
  for (int i = exit_cleanups.count - 1; i >= 0; --i) exit_cleanups.cleanups[i]();
}

void exit_cleanups_finish(bool (*remove)(const char* path)) {
  for (const auto& path : exit_cleanups.remove_paths)
    if (path[0] != 0) remove(path);
  exit_cleanups_run();
}
