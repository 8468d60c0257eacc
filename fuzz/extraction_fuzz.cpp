// The whole extraction path on fuzzed archives, on a memory console, in a scratch directory
// whose targets hold contents of their own, in two ways:
//   - the built-in run: the fuzzed bytes are the program's carried archive, six targets
//     beside the program, the answer "a" so that every entry is meant to be written;
//   - the appended run: the fuzzed bytes are a named archive appended to a program file,
//     run with arguments the way a self-extractor is (`-y`, `-n`, or asking with keys),
//     into an output folder where some of the entries' targets exist already. The target
//     links the stub's decoder set, so the entries are read and unpacked in place as the
//     stub does, and the blocks of a version 2 archive are decoded ahead on a second thread.
//
// Input: one byte that chooses the way (bits 0-1: built-in, -y, -n, asking), whether a
// named archive keeps its checksums as given (bit 2; otherwise the harness makes them right,
// so that the run gets past the archive's check) and a full disk (bits 3-7, 0: none;
// otherwise writes fail after (n - 1) * kFaultStep bytes, beyond the temporary archive of
// the built-in run). An appended run takes two more bytes: which targets exist before the
// run (entry i's when bit i % 8 is set) and four keys for the questions (two bits each:
// j, n, a, or a key that answers nothing); then the archive. The built-in run's digest is
// the archive's own, so the run goes all the way through the reader.
//
// After each run, "old or right": every target holds its old content (or is still absent),
// or exactly the bytes of an entry of its name (version 2: the bytes its record's size takes
// from the blocks' unpacked bytes, back to back, and none for a file whose bytes touch a
// block that does not unpack); whenever a target kept its old content, the run reported the
// failure (exit code 1, the failure on the screen), unless the way allowed keeping it
// (an existing file under -n, or one asked about); and nothing but the targets and their
// folders is left where the run wrote.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogue.h"
#include "app/extraction.h"
#include "fuzz/fuzz_limits.h"
#include "jc/pack_format.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"
#include "pack/named_settings.h"
#include "platform/file_faults.h"
#include "testing/memory_console_helpers.h"
#include "testing/payload_helpers.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kTargetCount = kPayloadEntryCount;
constexpr int64_t kFaultStep = 64;
constexpr uint8_t kWayMask = 0x03;
constexpr uint8_t kKeepChecksums = 0x04;
constexpr int kFaultShift = 3;
constexpr size_t kAppendedHeaderSize = 3;  ///< way byte, existing targets, keys
/// The keys a run is given, with their PC scan codes.
struct Key {
  char character;
  uint16_t scan;
};
constexpr Key kKeyA{'a', 0x1E}, kKeyQ{'q', 0x10}, kKeyJ{'j', 0x24}, kKeyN{'n', 0x31},
    kKeyX{'x', 0x2D};

/// How a run is started.
enum class Way : uint8_t { built_in, yes, no_overwrite, ask };

constexpr char kScratchPrefix[] = "entpacker-fuzz-";
constexpr char kProgramName[] = "program";
constexpr char kOutputName[] = "out";
/// Bytes standing for the stub's code in front of an appended archive.
const std::string kStubBytes =
    "\x7F"
    "ELF stub code of a fuzzed self-extractor";

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

/// Empties the scratch directory.
void clear_scratch() {
  for (const auto& e : fs::directory_iterator(scratch())) fs::remove_all(e.path());
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_all(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// Whether any line of the screen starts with `text`.
bool screen_shows(const MemoryConsole& screen, const std::string& text) {
  for (int y = 0; y < screen.info.size.y; ++y)
    if (memory_console_row(&screen, y).rfind(text, 0) == 0) return true;
  return false;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

/// The bytes the entry unpacks to, or false when it is not sound.
bool unpack_entry(const PackEntryView& entry, std::string* out) {
  out->assign(entry.header.unpacked_size, '\0');
  return pack_entry_unpack(entry, reinterpret_cast<uint8_t*>(out->data()), out->size()) ==
         JcStatus::ok;
}

/// Sets up the memory console for a run; `keys` are queued before the input ends.
MemoryConsole& console_for_run(const std::vector<Key>& keys) {
  static MemoryConsole screen;
  memory_console_init(&screen, 80, 25, 80, 25);
  screen.input_closed = true;
  for (const Key& key : keys) memory_console_push_key(&screen, key.character, key.scan);
  platform_console_install(&screen);
  return screen;
}

// ---- The built-in run --------------------------------------------------------------------

std::string old_content(const std::string& target) {
  return "old content of " + target;
}

/// What each of the six entries unpacks to when it is sound, found by walking the archive
/// in memory.
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
    e.sound[i] = unpack_entry(entry, &e.bytes[i]);
  }
  return e;
}

void built_in_run(int64_t fault_after, const uint8_t* archive, uint32_t archive_size) {
  const Expected expected = expected_entries(archive, archive_size);
  if (expected.too_large) return;
  const fs::path& dir = scratch();
  clear_scratch();
  for (size_t i = 0; i < kTargetCount; ++i)
    write_all(dir / payload_target(i), old_content(payload_target(i)));

  MemoryConsole& screen = console_for_run({kKeyA, kKeyQ});
  platform_file_fail_writes_after(fault_after < 0 ? -1 : int64_t{archive_size} + fault_after);
  const std::string program = (dir / "entpacker").string();
  const int code = extraction_run(archive, archive_size, archive_digest_of(archive, archive_size),
                                  program.c_str());
  platform_file_fail_writes_after(-1);
  platform_console_install(nullptr);

  bool kept_any = false;
  for (size_t i = 0; i < kTargetCount; ++i) {
    const std::string now = read_all(dir / payload_target(i));
    const bool kept = now == old_content(payload_target(i));
    const bool right = expected.sound[i] && now == expected.bytes[i];
    if (!kept && !right) fail(payload_target(i) + " holds neither its old content nor its entry");
    // An entry whose bytes happen to equal the old content counts as written.
    kept_any = kept_any || (kept && !right);
  }
  // A program without a carried archive (the self-extractor stub) and nothing appended
  // says so instead.
  const char* failure_line =
      archive_size == 0 ? dialogue_text(Text::no_archive) : kExtractionFailed;
  if (kept_any && (code != kExitFailure || !screen_shows(screen, failure_line)))
    fail("a target was not written and no failure was reported");
  size_t names = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++names;
  }
  if (names != kTargetCount) fail("the run left names behind besides the targets");
}

// ---- The appended run --------------------------------------------------------------------

/// The fuzzed archive with both checksums of its trailer made right, where it has a trailer
/// whose parts fit before it.
std::string with_right_checksums(std::string archive) {
  constexpr size_t kPartsCrcAt = 32;
  constexpr size_t kTableSizeAt = 16;
  constexpr size_t kEntriesSizeAt = 24;
  if (archive.size() < kNamedArchiveTrailerSize) return archive;
  auto* trailer =
      reinterpret_cast<uint8_t*>(archive.data()) + archive.size() - kNamedArchiveTrailerSize;
  if (std::memcmp(trailer, kNamedArchiveMagic, sizeof kNamedArchiveMagic) != 0) return archive;
  auto field = [&](size_t at, size_t size) {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v |= uint64_t(trailer[at + i]) << (8 * i);
    return v;
  };
  auto put_crc = [&](size_t at, uint32_t crc) {
    for (size_t i = 0; i < 4; ++i) trailer[at + i] = uint8_t(crc >> (8 * i));
  };
  const uint64_t before = archive.size() - kNamedArchiveTrailerSize;
  const uint64_t table = field(kTableSizeAt, 8), entries = field(kEntriesSizeAt, 8);
  if (table <= before && entries <= before - table) {
    const uint64_t parts = table + entries;
    put_crc(kPartsCrcAt, crc32_update(0, trailer - parts, parts));
  }
  put_crc(kNamedArchiveCheckedTrailerSize,
          crc32_update(0, trailer, kNamedArchiveCheckedTrailerSize));
  return archive;
}

/// One entry of the archive as the harness reads it.
struct Entry {
  std::string name;
  uint8_t flags = 0;
  bool sound = false;  ///< its bytes can be had, exactly as many as stated
  std::string bytes;
};

/// Version 1: each record's entry unpacked alone. False when an entry announces more than
/// the harness allocates.
bool entries_of_version1(const uint8_t* entries, size_t entries_size, NamedTableWalk names,
                         std::vector<Entry>* list) {
  PackWalk walk = pack_walk_start(entries, entries_size);
  NamedArchiveRecord record;
  PackEntryView entry;
  while (named_archive_next_name(names, &record) == NamedTableStep::record &&
         pack_walk_next(walk, &entry) == PackWalkStep::entry) {
    Entry e;
    e.name.assign(reinterpret_cast<const char*>(record.path), record.path_size);
    e.flags = record.flags;
    if (entry.header.unpacked_size > kFuzzMaxOutput) return false;
    e.sound = unpack_entry(entry, &e.bytes);
    list->push_back(std::move(e));
  }
  return true;
}

/// Version 2: the blocks unpacked one after another make the content, and each record takes
/// its size's worth of it in turn. A file is sound when none of its bytes lie in a block
/// that does not unpack; a folder takes nothing. False when the content is larger than the
/// harness allocates.
bool entries_of_version2(const uint8_t* entries, size_t entries_size, NamedTableWalk names,
                         std::vector<Entry>* list) {
  std::vector<PackEntryView> blocks;
  PackWalk walk = pack_walk_start(entries, entries_size);
  PackEntryView block;
  uint64_t content_size = 0;
  while (pack_walk_next(walk, &block) == PackWalkStep::entry) {
    content_size += block.header.unpacked_size;
    if (content_size > kFuzzMaxOutput) return false;
    blocks.push_back(block);
  }
  std::string content;
  std::vector<std::pair<uint64_t, uint64_t>> failed;  // content ranges of failed blocks
  for (const PackEntryView& b : blocks) {
    std::string bytes;
    if (!unpack_entry(b, &bytes))
      failed.emplace_back(content.size(), content.size() + bytes.size());
    content += bytes;
  }
  NamedArchiveRecord record;
  uint64_t at = 0;
  while (named_archive_next_name(names, &record) == NamedTableStep::record) {
    Entry e;
    e.name.assign(reinterpret_cast<const char*>(record.path), record.path_size);
    e.flags = record.flags;
    e.sound = true;
    for (const auto& [first, end] : failed)
      e.sound = e.sound && !(record.size > 0 && first < at + record.size && at < end);
    e.bytes = content.substr(at, record.size);
    at += record.size;
    list->push_back(std::move(e));
  }
  return true;
}

/// Whether the settings of a version 2 table hold a field that changes what is written and
/// is not an installer's: the stub refuses such an archive.
bool has_required_setting(const uint8_t* table, size_t table_size) {
  NamedSettingsWalk walk = named_archive_settings_start(table, table_size);
  NamedSetting setting;
  while (named_archive_next_setting(walk, &setting))
    if ((setting.tag & kNamedSettingRequired) != 0 && !named_setting_is_installer(setting.tag))
      return true;
  return false;
}

/// The entries of a sound named archive at the end of `file`; empty when there is no
/// archive or it is not sound (then nothing may be written). `too_large` when an entry (a
/// version 2 archive: its content) is larger than the harness allocates.
std::vector<Entry> named_entries(const std::string& file, bool* too_large) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  NamedArchiveTrailer trailer;
  const size_t tail = std::min(file.size(), kNamedArchiveTrailerSize);
  if (named_archive_read_trailer(bytes + file.size() - tail, tail, file.size(), &trailer) !=
      NamedTrailerStatus::valid)
    return {};
  const uint8_t* entries = bytes + trailer.entries_offset;
  const uint8_t* table = bytes + trailer.table_offset;
  const bool version2 = trailer.version == kNamedArchiveVersion2;
  if (!named_archive_digest_matches(trailer, entries, trailer.entries_size + trailer.table_size) ||
      !named_archive_entries_match(entries, trailer.entries_size, table, trailer.table_size,
                                   trailer.entry_count, trailer.version) ||
      (version2 && has_required_setting(table, trailer.table_size)))
    return {};
  std::vector<Entry> list;
  const NamedTableWalk names =
      named_archive_table_start(table, trailer.table_size, trailer.entry_count, trailer.version);
  const bool fits = version2 ? entries_of_version2(entries, trailer.entries_size, names, &list)
                             : entries_of_version1(entries, trailer.entries_size, names, &list);
  if (fits) return list;
  *too_large = true;
  return {};
}

bool is_safe(const std::string& name) {
  return entry_name_is_safe(reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

bool is_file(const Entry& e) {
  return !(e.flags & kNamedEntryDirectory);
}

bool has_file_entry(const std::vector<Entry>& list, const std::string& name) {
  for (const Entry& e : list)
    if (e.name == name && is_file(e)) return true;
  return false;
}

/// What a path under the output folder holds: a file's bytes, or nothing (absent, or not a
/// regular file).
struct Content {
  bool file = false;
  std::string bytes;
  bool operator==(const Content&) const = default;
};

Content content_at(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return {};
  return Content{true, read_all(path)};
}

/// Makes the targets of the entries chosen by `existing` with contents of their own (where
/// nothing of the archive's other names is in the way); returns what each safe name's
/// target held.
std::map<std::string, Content> make_targets(const fs::path& out, const std::vector<Entry>& list,
                                            uint8_t existing) {
  std::map<std::string, Content> before;
  for (size_t i = 0; i < list.size(); ++i) {
    const Entry& e = list[i];
    if (!is_safe(e.name) || !is_file(e) || !(existing & (1u << (i % 8)))) continue;
    const fs::path path = out / e.name;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error || fs::exists(fs::symlink_status(path, error))) continue;
    write_all(path, "old content of " + e.name);
  }
  for (const Entry& e : list)
    if (is_safe(e.name)) before[e.name] = content_at(out / e.name);
  return before;
}

/// Every name under `out`, folders included, relative to it.
std::set<std::string> names_under(const fs::path& out) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(out))
    names.insert(e.path().lexically_relative(out).string());
  return names;
}

/// The entries' names and every folder above them.
std::set<std::string> names_with_folders(const std::vector<Entry>& list) {
  std::set<std::string> names;
  for (const Entry& e : list) {
    for (size_t slash = e.name.find('/'); slash != std::string::npos;
         slash = e.name.find('/', slash + 1))
      names.insert(e.name.substr(0, slash));
    names.insert(e.name);
  }
  return names;
}

/// The run's arguments: an installer's licence taken as accepted and its command never run
/// (its program is fuzzed bytes).
std::vector<std::string> arguments_of(Way way, const std::string& out) {
  switch (way) {
    case Way::yes:
      return {"-y", "-o", out, "--accept", "--no-run"};
    case Way::no_overwrite:
      return {"-n", "-o", out, "--accept", "--no-run"};
    default:
      return {"-o", out, "--accept", "--no-run"};
  }
}

std::vector<Key> keys_of(uint8_t byte) {
  static constexpr Key kKeys[4] = {kKeyJ, kKeyN, kKeyA, kKeyX};
  std::vector<Key> keys;
  for (int i = 0; i < 4; ++i) keys.push_back(kKeys[(byte >> (2 * i)) & 3]);
  return keys;
}

void appended_run(Way way, bool keep_checksums, int64_t fault_after, const uint8_t* data,
                  size_t size) {
  const uint8_t existing = data[1];
  const std::vector<Key> keys = way == Way::ask ? keys_of(data[2]) : std::vector<Key>{};
  std::string archive(reinterpret_cast<const char*>(data) + kAppendedHeaderSize,
                      size - kAppendedHeaderSize);
  if (!keep_checksums) archive = with_right_checksums(std::move(archive));
  const std::string file = kStubBytes + archive;
  bool too_large = false;
  const std::vector<Entry> list = named_entries(file, &too_large);
  if (too_large) return;

  const fs::path& dir = scratch();
  clear_scratch();
  const fs::path out = dir / kOutputName;
  fs::create_directories(out);
  write_all(dir / kProgramName, file);
  const std::map<std::string, Content> before = make_targets(out, list, existing);
  const std::set<std::string> made_before = names_under(out);

  MemoryConsole& screen = console_for_run(keys);
  platform_file_fail_writes_after(fault_after);
  const std::vector<std::string> arguments = arguments_of(way, out.string());
  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  const std::string program = (dir / kProgramName).string();
  const int code = extraction_run_with_arguments(nullptr, 0, archive_digest_of(nullptr, 0),
                                                 program.c_str(), int(argv.size()), argv.data());
  platform_file_fail_writes_after(-1);
  platform_console_install(nullptr);

  // Each file entry's target holds what it held or the bytes of an entry of its name; an
  // unsafe name is refused, so its entry is not written.
  bool kept_unexcused = false;
  for (const auto& [name, old] : before) {
    const Content now = content_at(out / name);
    bool right = false;
    for (const Entry& e : list)
      right = right || (e.name == name && is_file(e) && e.sound && now == Content{true, e.bytes});
    if (now != old && !right) fail("'" + name + "' holds neither its old content nor an entry's");
    const bool excused = old.file && (way == Way::no_overwrite || way == Way::ask);
    kept_unexcused = kept_unexcused || (has_file_entry(list, name) && !right && !excused);
  }
  for (const Entry& e : list) kept_unexcused = kept_unexcused || (is_file(e) && !is_safe(e.name));
  const bool absent = std::memcmp(file.data() + file.size() - kNamedArchiveTrailerSize,
                                  kNamedArchiveMagic, sizeof kNamedArchiveMagic) != 0;
  // The run's failure in its own language: "Error: ..." (a trailer cut off with bytes left
  // after the program is an archive cut short), or that nothing is appended.
  const bool reported = screen_shows(screen, dialogue_text(Text::failed)) ||
                        (absent && screen_shows(screen, dialogue_text(Text::no_archive)));
  if (kept_unexcused && (code != kExitFailure || !reported))
    fail("a target was not written and no failure was reported");

  // Nothing but the targets and their folders, and nothing beside the output folder.
  const std::set<std::string> allowed = names_with_folders(list);
  for (const std::string& name : names_under(out))
    if (!allowed.count(name) && !made_before.count(name))
      fail("the run left '" + name + "' behind");
  size_t beside = 0;
  for (const auto& e : fs::directory_iterator(dir)) (void)e, ++beside;
  if (beside != 2 || read_all(dir / kProgramName) != file)
    fail("the run wrote beside its output folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto way = static_cast<Way>(data[0] & kWayMask);
  const int fault = data[0] >> kFaultShift;
  const int64_t fault_after = fault == 0 ? -1 : (fault - 1) * kFaultStep;
  // The run makes the folder it extracts into current; the fuzzer's own relative paths (its
  // corpus) must keep meaning what they meant.
  static const fs::path start_directory = fs::current_path();
  if (way == Way::built_in) {
    built_in_run(fault_after, data + 1, static_cast<uint32_t>(size - 1));
  } else if (size >= kAppendedHeaderSize) {
    appended_run(way, (data[0] & kKeepChecksums) != 0, fault_after, data, size);
  }
  fs::current_path(start_directory);
  return 0;
}
