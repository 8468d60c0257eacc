#include "platform/file_faults.h"

namespace {

/// The hook's record: bytes that may still be written, negative for no limit.
struct FileFaults {
  int64_t allowance = -1;
  FileSystemWays ways = FileSystemWays::kNewest;
  void (*next_write_hook)() = nullptr;
  int64_t free_space = -1;  ///< negative: no figure set
};

FileFaults file_faults;

}  // namespace

void platform_file_fail_writes_after(int64_t bytes) {
  file_faults.allowance = bytes < 0 ? -1 : bytes;
}

void platform_file_call_at_next_write(void (*hook)()) {
  file_faults.next_write_hook = hook;
}

uint32_t file_faults_take_allowance(uint32_t count) {
  if (file_faults.next_write_hook) {
    void (*hook)() = file_faults.next_write_hook;
    file_faults.next_write_hook = nullptr;
    hook();
  }
  if (file_faults.allowance < 0) return count;
  const uint32_t granted =
      file_faults.allowance < count ? static_cast<uint32_t>(file_faults.allowance) : count;
  file_faults.allowance -= granted;
  return granted;
}

void platform_file_limit_ways(FileSystemWays ways) {
  file_faults.ways = ways;
}

FileSystemWays file_faults_ways() {
  return file_faults.ways;
}

void platform_file_fake_free_space(int64_t bytes) {
  file_faults.free_space = bytes < 0 ? -1 : bytes;
}

bool file_faults_free_space(uint64_t* bytes) {
  if (file_faults.free_space < 0) return false;
  *bytes = static_cast<uint64_t>(file_faults.free_space);
  return true;
}
