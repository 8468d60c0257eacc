#include "tools/jcpack_named_read.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "app/extract_core.h"
#include "files/file_table.h"
#include "files/program_directory.h"
#include "jc/pack_format.h"
#include "pack/named_archive.h"
#include "pack/named_settings.h"
#include "pack/signed_program.h"
#include "runtime/workspace.h"
#include "tools/tool_io.h"

namespace {

/// The file being read, for messages, the number of the entry being reported, and the sums
/// for the totals.
struct NamedReadState {
  std::string shown;
  size_t index = 0;
  uint64_t unpacked = 0;
  size_t sound = 0;
};

/// The header and the rows of `jcpack list` of a named archive.
constexpr const char* kNamedListHeader = "%5s %12s %10s  %-6s  %-4s  %-20s  %-6s  %s\n";
constexpr const char* kNamedListRow = "%5zu %12llu %10s  %-6s  %-4s  %-20s  %-6s  %s\n";

NamedReadState named_read;

}  // namespace

/// jcpack reads an installer as its files: list shows its settings, unpack writes its files
/// and runs nothing.
bool archive_setting_known(uint16_t tag) {
  return named_setting_is_installer(tag);
}

namespace {

std::string name_of(const uint8_t* name, size_t size) {
  return "'" + printable(name, size) + "'";
}

/// A modification time as "YYYY-MM-DDTHH:MM:SSZ", or the bare number of seconds when it is
/// beyond what the calendar functions take.
std::string time_text(int64_t seconds) {
  const time_t t = time_t(seconds);
  struct tm parts;
  char text[64];
  if (int64_t(t) != seconds || gmtime_r(&t, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return std::to_string(seconds);
  }
  return text;
}

/// Why, in words, by ExtractProblem.
const char* problem_text(ExtractProblem problem) {
  switch (problem) {
    case ExtractProblem::unsafe_name:
      return "unsafe name";
    case ExtractProblem::name_twice:
      return "the name is there twice";
    case ExtractProblem::case_twin:
      return "the name differs only in case from another, which Windows takes for one";
    case ExtractProblem::below_file:
      return "the name lies below a file of the archive";
    case ExtractProblem::archive_walk:
      return "the entries do not pair with the table";
    case ExtractProblem::unreadable:
      return "its stored bytes cannot be read";
    case ExtractProblem::no_memory:
      return "out of memory";
    case ExtractProblem::damaged:
      return "damaged: its block does not unpack to its bytes";
    case ExtractProblem::folder_blocked:
      return "a link or a file is in the way of its folder, or the folder cannot be made";
    case ExtractProblem::target_blocked:
      return "a folder, link, read-only or special file is in the way; left as it is";
    case ExtractProblem::write_failed:
      return "cannot be written; the old file is left as it was";
    case ExtractProblem::folder_time:
      return "cannot set the folder's time";
    case ExtractProblem::no_space:
      return "no space left on the device; the old file is left as it was";
    case ExtractProblem::permission:
      return "permission denied; the old file is left as it was";
  }
  return "failed";
}

/// Says, when verbose, which entry `jcpack unpack` writes next.
void announce(const ArchiveItem& item) {
  ++named_read.index;
  note("unpacking " + name_of(item.name, item.name_size));
}

OverwriteDecision ask(const ArchiveItem& /*item*/) {
  return kDecisionWrite;
}

void report_fail(const ExtractFailure& f) {
  std::string message = named_read.shown + ": ";
  if (f.item) message += "entry " + name_of(f.item->name, f.item->name_size) + ": ";
  message += problem_text(f.problem);
  if (f.problem == ExtractProblem::unsafe_name)
    message += std::string(" (") + entry_name_problem_text(f.name_problem) + ")";
  if (f.other_name) message += " (" + name_of(f.other_name, f.other_name_size) + ")";
  std::fprintf(stderr, "jcpack: %s\n", message.c_str());
}

void listed(const ArchiveItem& /*item*/) {}

void totals(uint64_t /*unpacked*/, uint64_t /*stored*/, uint32_t /*count*/) {}

/// One line of `jcpack list`.
void list_line(const ArchiveItem& item, bool sound, ExtractProblem problem) {
  const bool folder = (item.flags & kNamedEntryDirectory) != 0;
  const char* kind = folder                              ? "folder"
                     : item.in_blocks                    ? "blocks"
                     : pack_entry_is_stored(item.header) ? "stored"
                                                         : "jc";
  // An entry that shares its blocks with others has no stored size of its own.
  const std::string stored = item.in_blocks ? "-" : std::to_string(item.header.stored_size);
  std::printf(kNamedListRow, ++named_read.index, static_cast<unsigned long long>(item.size),
              stored.c_str(), kind, (item.flags & kNamedEntryExecutable) != 0 ? "x" : "-",
              time_text(item.mtime).c_str(), sound ? "ok" : "failed",
              printable(item.name, item.name_size).c_str());
  named_read.unpacked += item.size;
  named_read.sound += sound ? 1 : 0;
  if (!sound) report_fail(ExtractFailure{&item, problem, EntryNameProblem::ok, nullptr, 0});
}

/// One line of `jcpack test`; none for a sound entry when quiet.
void test_line(const ArchiveItem& item, bool sound, ExtractProblem problem) {
  ++named_read.index;
  named_read.unpacked += item.size;
  named_read.sound += sound ? 1 : 0;
  if (!sound || verbosity() != Verbosity::quiet) {
    std::printf("%s %s\n", sound ? "OK    " : "FAILED",
                printable(item.name, item.name_size).c_str());
  }
  if (!sound) report_fail(ExtractFailure{&item, problem, EntryNameProblem::ok, nullptr, 0});
}

const ExtractReport list_report = {announce, ask, report_fail, listed, list_line, totals, nullptr};
const ExtractReport test_report = {announce, ask, report_fail, listed, test_line, totals, nullptr};
const ExtractReport unpack_report = {announce,  ask,    report_fail, listed,
                                     test_line, totals, nullptr};

/// Starts the runtime the core works with; false after a message when it cannot.
bool start_runtime() {
  if (main_heap_create() && object_heap_create() && file_table_init()) return true;
  failure("cannot set up memory");
  return false;
}

/// Whether the file `path` starts as a Windows program: its names are then compared as
/// Windows compares them.
bool is_windows_program(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  char magic[2] = {0, 0};
  const bool read = file && std::fread(magic, 1, 2, file) == 2;
  if (file) std::fclose(file);
  return read && magic[0] == 'M' && magic[1] == 'Z';
}

/// Writes `file` to a new scratch file, whose name goes to `*name`; false after a message.
bool write_scratch(const std::vector<uint8_t>& file, std::string* name) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/jcpack-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return fail(system_error(pattern, "cannot make a scratch file"));
  const bool written = write_all(fd, file.data(), file.size());
  if (close(fd) != 0 || !written) {
    unlink(pattern.c_str());
    return fail(system_error(pattern, "cannot write a scratch file"));
  }
  *name = pattern;
  return true;
}

/// Opens the named archive at the end of `path`; false after a message when it is absent
/// or damaged.
bool open_source(const std::string& path, const std::vector<uint8_t>& file, ArchiveSource* source,
                 ExtractPolicy* policy) {
  named_read = NamedReadState{path == "-" ? "standard input" : path, 0};
  if (!start_runtime()) return false;
  std::string name = path;
  if (path == "-" && !write_scratch(file, &name)) return false;
  *policy = ExtractPolicy{OverwritePolicy::all, is_windows_program(name)};
  const AppendedArchive appended = appended_archive_open(name.c_str(), source);
  if (path == "-") unlink(name.c_str());  // the open handle keeps it while it is read
  switch (appended) {
    case AppendedArchive::valid:
      return true;
    case AppendedArchive::damaged:
      return fail(named_read.shown +
                  ": damaged: its trailer, checksum or table of names does not hold; nothing is "
                  "read from it");
    default:
      return fail(named_read.shown + ": no named archive at its end");
  }
}

/// A file held in memory, read through signed_program_archive_end.
struct MemoryFile {
  const uint8_t* bytes;
  size_t size;
};

bool read_memory(void* context, uint64_t offset, uint8_t* out, size_t count) {
  const auto* memory = static_cast<const MemoryFile*>(context);
  if (offset > memory->size || count > memory->size - offset) return false;
  std::memcpy(out, memory->bytes + offset, count);
  return true;
}

/// Whether the `size` bytes at `file` are a plain pack archive, entry after entry to the
/// end. One that ends with a self-extractor stored whole is read as the pack archive it is;
/// the first bytes of a program, read as entry sizes, run past its end.
bool walks_as_pack_archive(const uint8_t* file, size_t size) {
  PackWalk walk = pack_walk_start(file, size);
  PackEntryView entry;
  PackWalkStep step;
  do {
    step = pack_walk_next(walk, &entry);
  } while (step == PackWalkStep::entry);
  return step == PackWalkStep::end;
}

/// After the language in `jcpack list`: a line for the installer's command, one for its
/// temporary folder and one for its licence, each when the archive holds it.
void print_installer_settings(const ArchiveSource& source) {
  const NamedInstallerSettings settings =
      named_archive_installer_settings(source.table, source.table_size);
  if (settings.run != nullptr) {
    std::printf("command: %s\n", printable(settings.run, settings.run_size).c_str());
  }
  if (settings.temp) std::printf("temporary folder: yes\n");
  if (settings.license != nullptr) {
    std::printf(
        "licence: %zu bytes%s\n", settings.license_size,
        settings.license_valid ? "" : " (not valid: not UTF-8 text, or with control characters)");
  }
}

/// Before the header of `jcpack list`: a line for the title and one for the language, each
/// when the archive holds it. A title that breaks its rules is not printed as it is.
void print_dialogue_settings(const ArchiveSource& source) {
  if (source.version != kNamedArchiveVersion2 || source.table == nullptr) return;
  const NamedDialogueSettings settings =
      named_archive_dialogue_settings(source.table, source.table_size);
  if (settings.title != nullptr && settings.title_valid) {
    std::printf("title: %.*s\n", int(settings.title_size),
                reinterpret_cast<const char*>(settings.title));
  } else if (settings.title != nullptr) {
    std::printf(
        "title: (not shown: not UTF-8 text of 1 to %zu bytes without control "
        "characters)\n",
        kNamedTitleMaxSize);
  }
  if (settings.language != nullptr) {
    std::printf("language: %s\n", printable(settings.language, kNamedLanguageSize).c_str());
  }
  print_installer_settings(source);
}

/// Unpacks and checks every entry of the named archive at the end of `path`, reporting
/// through `report`, after the settings and the header when `listing`; the exit code.
int test_named(const std::string& path, const std::vector<uint8_t>& file,
               const ExtractReport& report, bool listing) {
  ArchiveSource source;
  ExtractPolicy policy;
  if (!open_source(path, file, &source, &policy)) return kExitFailure;
  if (listing) {
    print_dialogue_settings(source);
    std::printf(kNamedListHeader, "index", "size", "stored", "kind", "exec", "modified", "status",
                "name");
  }
  const bool sound = extract_test(source, policy, report);
  archive_source_close(&source);
  note(named_read.shown + ": " + count_text(named_read.index, "entry", "entries") + " (" +
       std::to_string(named_read.sound) + " sound), " +
       count_text(named_read.unpacked, "byte", "bytes") + " in " +
       count_text(file.size(), "byte", "bytes"));
  return sound ? kExitOk : kExitFailure;
}

}  // namespace

bool jcpack_has_named_trailer(const uint8_t* file, size_t size) {
  // A signed Windows self-extractor carries its signature behind the archive.
  MemoryFile memory{file, size};
  const auto end = static_cast<size_t>(signed_program_archive_end(read_memory, &memory, size));
  return ends_with_named_magic(file, end) && !walks_as_pack_archive(file, size);
}

int jcpack_named_list(const std::string& path, const std::vector<uint8_t>& file) {
  return test_named(path, file, list_report, true);
}

int jcpack_named_test(const std::string& path, const std::vector<uint8_t>& file) {
  return test_named(path, file, test_report, false);
}

int jcpack_named_unpack(const std::string& path, const std::vector<uint8_t>& file,
                        const std::string& dir) {
  ArchiveSource source;
  ExtractPolicy policy;
  if (!open_source(path, file, &source, &policy)) return kExitFailure;
  // Nothing is made, not even the folder, before the whole archive has passed the checks.
  if (!extract_check_names(source, policy, unpack_report)) {
    archive_source_close(&source);
    return failure(named_read.shown + ": nothing unpacked");
  }
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || chdir(dir.c_str()) != 0) {
    archive_source_close(&source);
    return failure(dir + ": cannot make or enter the folder");
  }
  program_directory_init("./");
  const bool sound = extract_all(source, policy, unpack_report);
  archive_source_close(&source);
  note(named_read.shown + ": " + count_text(named_read.index, "entry", "entries") +
       " unpacked into " + dir);
  return sound ? kExitOk : kExitFailure;
}
