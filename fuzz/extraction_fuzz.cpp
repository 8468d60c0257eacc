// The whole extraction path on fuzzed archives: the program's run on a memory console, in
// a scratch directory whose six targets hold contents of their own, with the answer "a" so
// that every entry is meant to be written.
//
// Input: one byte that chooses a full disk (0: none; otherwise writes fail after
// (byte - 1) * 16 bytes beyond the temporary archive), then the archive. The digest handed
// to the run is the archive's own, so the run goes all the way through the reader.
//
// After each run, "old or right": every target holds its old content, or exactly the bytes
// that the archive's i-th entry unpacks to; whenever a target kept its old content, the run
// reported the failure (exit code 1, "FEHLER Entpacken" on the screen); and nothing but the
// six targets is left in the directory.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "fuzz/fuzz_limits.h"
#include "jc/pack_format.h"
#include "platform/file_faults.h"
#include "testing/memory_console_helpers.h"
#include "testing/payload_helpers.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kTargetCount = kPayloadEntryCount;
constexpr int64_t kFaultStep = 16;
constexpr uint16_t kScanA = 0x1E;
constexpr uint16_t kScanQ = 0x10;

constexpr char kScratchPrefix[] = "entpacker-fuzz-";

/// Removes the scratch directories of earlier fuzzer processes that have ended (the fuzzer
/// may end without running exit handlers).
void remove_stale_scratch(const fs::path& base) {
  std::error_code error;
  for (const auto& e : fs::directory_iterator(base, error)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + sizeof kScratchPrefix - 1, nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      fs::remove_all(e.path(), error);
  }
}

/// The scratch directory of this process, made once (in memory where the system has it).
const fs::path& scratch() {
  static const fs::path directory = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    remove_stale_scratch(base);
    fs::path made = base / (kScratchPrefix + std::to_string(::getpid()));
    fs::create_directories(made);
    return made;
  }();
  return directory;
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string old_content(size_t i) {
  return "old content of " + std::string(payload_target(i));
}

/// What each of the six entries unpacks to when it is sound, found by walking the archive
/// in memory; an empty optional-like flag marks an entry that cannot be written.
struct Expected {
  bool sound[kTargetCount] = {};
  std::string bytes[kTargetCount];
  bool too_large = false;  ///< an entry announces more than the harness allocates
};

Expected expected_entries(const uint8_t* archive, size_t size) {
  Expected e;
  PackWalk walk = pack_walk_start(archive, size);
  PackEntryView entry;
  for (size_t i = 0; i < kTargetCount; ++i) {
    if (pack_walk_next(walk, &entry) != PackWalkStep::entry) break;
    if (entry.header.unpacked_size > kFuzzMaxOutput) {
      e.too_large = true;
      break;
    }
    std::string out(entry.header.unpacked_size, '\0');
    if (pack_entry_unpack(entry, reinterpret_cast<uint8_t*>(out.data()), out.size()) ==
        JcStatus::ok) {
      e.sound[i] = true;
      e.bytes[i] = std::move(out);
    }
  }
  return e;
}

/// Whether any line of the screen reads `text`.
bool screen_shows(const MemoryConsole& screen, const std::string& text) {
  for (int y = 0; y < screen.info.size.y; ++y)
    if (memory_console_row(&screen, y) == text) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t fault = data[0];
  const uint8_t* archive = data + 1;
  const auto archive_size = static_cast<uint32_t>(size - 1);
  const Expected expected = expected_entries(archive, archive_size);
  if (expected.too_large) return 0;

  // The run makes the program's directory current; the fuzzer's own relative paths (its
  // corpus) must keep meaning what they meant.
  static const fs::path start_directory = fs::current_path();
  const fs::path& dir = scratch();
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  for (size_t i = 0; i < kTargetCount; ++i)
    std::ofstream(dir / payload_target(i), std::ios::binary) << old_content(i);

  static MemoryConsole screen;
  memory_console_init(&screen, 80, 25, 80, 25);
  screen.input_closed = true;
  memory_console_push_key(&screen, 'a', kScanA);
  memory_console_push_key(&screen, 'q', kScanQ);
  platform_console_install(&screen);
  platform_file_fail_writes_after(fault == 0 ? -1
                                             : int64_t{archive_size} + (fault - 1) * kFaultStep);
  const std::string program = (dir / "entpacker").string();
  const int code = extraction_run(archive, archive_size, archive_digest_of(archive, archive_size),
                                  program.c_str());
  platform_file_fail_writes_after(-1);
  platform_console_install(nullptr);
  fs::current_path(start_directory);

  bool kept_any = false;
  for (size_t i = 0; i < kTargetCount; ++i) {
    const std::string now = read_all(dir / payload_target(i));
    const bool kept = now == old_content(i);
    const bool right = expected.sound[i] && now == expected.bytes[i];
    if (!kept && !right) {
      std::fprintf(stderr, "%s holds neither its old content nor its entry\n",
                   payload_target(i).c_str());
      std::abort();
    }
    // An entry whose bytes happen to equal the old content counts as written.
    kept_any = kept_any || (kept && !right);
  }
  // A program without a carried archive (the self-extractor stub) and nothing appended
  // says so instead.
  const char* failure_line = archive_size == 0 ? kNoArchive : kExtractionFailed;
  if (kept_any && (code != kExitFailure || !screen_shows(screen, failure_line))) {
    std::fprintf(stderr, "a target was not written and no failure was reported\n");
    std::abort();
  }
  size_t names = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++names;
  }
  if (names != kTargetCount) {
    std::fprintf(stderr, "the run left %zu names behind besides the targets\n",
                 names - kTargetCount);
    std::abort();
  }
  return 0;
}
