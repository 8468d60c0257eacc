// jcpack: makes and reads JC blocks and pack archives.
//
// Inputs are read whole before anything is written; `-` is standard input. Outputs:
//   - `-` is standard output, and a name that is a symbolic link to the file open as
//     standard output or standard error (/dev/stdout, /dev/fd/2) is written to that stream;
//   - a device or a FIFO is written directly, as it stands;
//   - anything else (a regular file, a symbolic link, a name that does not exist yet) is
//     written to a temporary file created exclusively in the same directory and renamed to
//     the name once it is complete; an existing regular file or link is replaced only with
//     -f, and refused, untouched, without. A failure or an interrupt removes the temporary,
//     so no partial file is ever left, and nothing is written through a symbolic link. A
//     regular file that is replaced keeps its permission bits.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_decode_internal.h"
#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "jc/jc_stream_count.h"
#include "jc/pack_format.h"
#include "tools/jcpack_named_read.h"
#include "tools/jcpack_options.h"
#include "tools/sfx_command.h"
#include "tools/tool_io.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kStandardName = "-";
constexpr uint64_t kNoLimit = UINT64_MAX;  ///< read_input without a size limit
constexpr mode_t kPermissionBits = 0777;   ///< what a replaced file keeps of its mode
constexpr mode_t kNewFileMode = 0666;      ///< before the umask, as open() would
constexpr size_t kSubjectCapacity = 512;   ///< room for the name in a last-resort message

/// The file being worked on, for a message about a failure that is caught only in main.
char g_subject[kSubjectCapacity] = "jcpack";

/// Mode bits of a newly created output: kNewFileMode less the process's umask.
mode_t g_new_file_mode = kNewFileMode;

/// Names `name` ("-" as standard input) as the file being worked on.
void set_subject(const std::string& name) {
  std::snprintf(g_subject, sizeof g_subject, "%s", name.c_str());
}

/// The name a message uses for an input.
std::string input_name(const std::string& name) {
  return name == kStandardName ? "standard input" : name;
}

/// The name a message uses for an output.
std::string output_name(const std::string& name) {
  return name == kStandardName ? "standard output" : name;
}

/// Reads all of the file `name` ("-": standard input) into `out`. False, with a one-line
/// reason in `error`, when it cannot be opened or read, is a directory, or holds more than
/// `limit` bytes.
bool read_input(const std::string& name, uint64_t limit, Bytes* out, std::string* error) {
  const std::string shown = input_name(name);
  set_subject(shown);
  out->clear();
  const bool standard = name == kStandardName;
  const int fd = standard ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = system_error(shown, "cannot open");
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *error = system_error(shown, "cannot read");
  } else if (S_ISDIR(st.st_mode)) {
    *error = shown + ": is a directory";
    ok = false;
  } else {
    const uint64_t expected = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    bool too_large = false;
    ok = read_all(fd, limit, expected, out, &too_large);
    if (!ok) *error = system_error(shown, "cannot read");
    if (ok && too_large) {
      *error = shown + ": larger than " + std::to_string(limit) + " bytes";
      ok = false;
    }
  }
  if (!standard) close(fd);
  if (!ok) out->clear();
  return ok;
}

/// Writes to the standard stream `fd`, for the output `name`.
bool write_stream(int fd, const std::string& name, const uint8_t* data, size_t size,
                  std::string* error) {
  if (!write_all(fd, data, size)) {
    *error = system_error(output_name(name), "cannot write");
    return false;
  }
  return true;
}

/// Writes `size` bytes to `path` through an exclusively created temporary in its directory
/// that is given `mode` and renamed to `path` when complete, over an existing file only when
/// `replace` is set; removed on failure.
bool replace_file(const std::string& path, mode_t mode, const uint8_t* data, size_t size,
                  bool replace, std::string* error) {
  const fs::path parent = fs::path(path).parent_path();
  const std::string folder_name = parent.empty() ? "." : parent.string();
  const int folder = open(folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fd = folder < 0 ? -1 : temporary_create(folder);
  if (fd < 0) {
    *error = system_error(path, "cannot create a temporary file beside it");
    if (folder >= 0) close(folder);
    return false;
  }
  bool ok = write_all(fd, data, size) && fchmod(fd, mode) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && temporary_rename(fs::path(path).filename().c_str(), replace);
  if (!ok) {
    *error = !replace && errno == EEXIST ? exists_text(path) : system_error(path, "cannot write");
    temporary_remove();
  }
  close(folder);
  return ok;
}

/// The standard stream (1 or 2) that `st` is the open file of, or -1.
int standard_stream_of(const struct stat& st) {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat open_file;
    if (fstat(fd, &open_file) == 0 && open_file.st_dev == st.st_dev &&
        open_file.st_ino == st.st_ino) {
      return fd;
    }
  }
  return -1;
}

/// The standard stream that the symbolic link `name` leads to, or -1.
int linked_stream(const std::string& name) {
  struct stat target;
  return stat(name.c_str(), &target) == 0 ? standard_stream_of(target) : -1;
}

/// Writes to the device or FIFO `path` as it stands; a name that has meanwhile become a
/// regular file is replaced instead, when `replace` allows.
bool write_direct(const std::string& path, const uint8_t* data, size_t size, bool replace,
                  std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = system_error(path, "cannot open");
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    close(fd);
    if (!replace) {
      *error = exists_text(path);
      return false;
    }
    return replace_file(path, st.st_mode & kPermissionBits, data, size, replace, error);
  }
  bool ok = write_all(fd, data, size);
  ok = close(fd) == 0 && ok;
  if (!ok) *error = system_error(path, "cannot write");
  return ok;
}

/// Whether the output `name` may be written: false, with the reason in `error`, for a
/// directory, and for a regular file or a symbolic link (one to a standard stream aside)
/// unless `replace`. Checked before any work, so that a refused OUT costs nothing; the
/// writing holds to the same rule.
bool output_allowed(const std::string& name, bool replace, std::string* error) {
  struct stat st;
  if (name == kStandardName || lstat(name.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    *error = name + ": is a directory";
    return false;
  }
  const bool kept = S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && linked_stream(name) < 0);
  if (kept && !replace) {
    *error = exists_text(name);
    return false;
  }
  return true;
}

/// Writes `size` bytes to the output `name` as the comment at the top of the file says, over
/// an existing regular file or link only when `replace` is set. False, with a one-line reason
/// in `error` and nothing left behind, on failure.
bool write_output(const std::string& name, const uint8_t* data, size_t size, bool replace,
                  std::string* error) {
  set_subject(output_name(name));
  if (name == kStandardName) return write_stream(STDOUT_FILENO, name, data, size, error);
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      *error = system_error(name, "cannot write");
      return false;
    }
    return replace_file(name, g_new_file_mode, data, size, replace, error);
  }
  if (S_ISDIR(st.st_mode)) {
    *error = name + ": is a directory";
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    const int stream = linked_stream(name);
    if (stream >= 0) return write_stream(stream, name, data, size, error);
  }
  if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
    if (!replace) {
      *error = exists_text(name);
      return false;
    }
    const mode_t mode = S_ISREG(st.st_mode) ? st.st_mode & kPermissionBits : g_new_file_mode;
    return replace_file(name, mode, data, size, replace, error);
  }
  return write_direct(name, data, size, replace, error);
}

// --- Commands ------------------------------------------------------------------------------

/// "N bytes".
std::string bytes_text(uint64_t count) {
  return count_text(count, "byte", "bytes");
}

/// "N entries".
std::string entries_text(uint64_t count) {
  return count_text(count, "entry", "entries");
}

/// compress IN OUT.
int compress(const CommandLine& c) {
  if (c.operands.size() != 2) return usage_error("compress takes IN and OUT");
  const std::string in = input_name(c.operands[0]);
  const int level = c.level == 0 ? kJcDefaultLevel : c.level;
  Bytes data, block;
  std::string error;
  if (!output_allowed(c.operands[1], c.force, &error)) return failure(error);
  if (!read_input(c.operands[0], kJcMaxInputSize, &data, &error)) return failure(error);
  if (data.empty()) return failure(in + ": empty; a JC block cannot hold no bytes");
  try {
    ProgressLine progress(data.size());
    progress.begin(in, 0);
    if (!jc_encode_with_progress(data.data(), data.size(), level, progress.callback(), &progress,
                                 &block)) {
      return failure(in + ": cannot be encoded");
    }
    progress.clear();
    Bytes check(data.size());
    if (jc_decode(block.data(), block.size(), check.data(), check.size()) != data.size() ||
        check != data) {
      return failure(in + ": the encoded block does not decode to the input");
    }
  } catch (const std::bad_alloc&) {
    return failure(out_of_memory_text(in, data.size(), level));
  }
  if (!write_output(c.operands[1], block.data(), block.size(), c.force, &error)) {
    return failure(error);
  }
  note(in + ": " + bytes_text(data.size()) + " compressed at level " + std::to_string(level) +
       " to " + bytes_text(block.size()) + " in " + output_name(c.operands[1]));
  return kExitOk;
}

/// decompress IN OUT.
int decompress(const CommandLine& c) {
  if (c.operands.size() != 2) return usage_error("decompress takes IN and OUT");
  const std::string in = input_name(c.operands[0]);
  Bytes block, data;
  std::string error;
  if (!output_allowed(c.operands[1], c.force, &error)) return failure(error);
  if (!read_input(c.operands[0], kNoLimit, &block, &error)) return failure(error);
  JcBlock header;
  if (!jc_read_header(block.data(), block.size(), &header)) {
    return failure(in + ": " + jc_status_text(JcStatus::bad_magic));
  }
  const JcStatus proof = jc_stream_reaches(block.data(), block.size(), header.unpacked_size);
  if (proof != JcStatus::ok) {
    return failure(in + ": " + jc_status_text(proof) + ": the stream does not make the " +
                   std::to_string(header.unpacked_size) + " bytes the header states");
  }
  try {
    data.assign(header.unpacked_size, 0);
  } catch (const std::bad_alloc&) {
    return failure(in + ": out of memory for " + std::to_string(header.unpacked_size) + " bytes");
  }
  const JcResult r = jc_decode_checked(block.data(), block.size(), data.data(), data.size());
  if (r.status != JcStatus::ok) return failure(in + ": " + jc_status_text(r.status));
  if (!write_output(c.operands[1], data.data(), data.size(), c.force, &error)) {
    return failure(error);
  }
  note(in + ": " + bytes_text(block.size()) + " decompressed to " + bytes_text(data.size()) +
       " in " + output_name(c.operands[1]));
  return kExitOk;
}

/// Whether standard input is named more than once among `names`.
bool standard_input_twice(const std::vector<std::string>& names) {
  size_t count = 0;
  for (const std::string& name : names) count += name == kStandardName ? 1 : 0;
  return count > 1;
}

/// pack [--store] [-l LEVEL] OUT FILE...
int pack(const CommandLine& c) {
  if (c.operands.size() < 2) return usage_error("pack takes OUT and at least one FILE");
  const std::vector<std::string> files(c.operands.begin() + 1, c.operands.end());
  if (standard_input_twice(files)) return usage_error("standard input given twice");
  const int level = c.level == 0 ? kJcDefaultLevel : c.level;
  Bytes archive, data;
  std::string error;
  if (!output_allowed(c.operands[0], c.force, &error)) return failure(error);
  uint64_t total = 0;
  for (const std::string& file : files) {
    if (!read_input(file, kJcMaxInputSize, &data, &error)) return failure(error);
    const size_t start = archive.size();
    try {
      ProgressLine progress(data.size());
      progress.begin(input_name(file), 0);
      if (!jc_append_pack_entry(archive, data.data(), data.size(), level, c.store,
                                progress.callback(), &progress)) {
        return failure(input_name(file) + ": cannot be packed");
      }
    } catch (const std::bad_alloc&) {
      return failure(out_of_memory_text(input_name(file), data.size(), level));
    }
    const PackEntryHeader header = pack_read_entry_header(archive.data() + start);
    total += data.size();
    note("added " + input_name(file) + ": " + bytes_text(data.size()) +
         (pack_entry_is_stored(header) ? ", stored"
                                       : ", compressed to " + bytes_text(header.stored_size)));
  }
  if (!write_output(c.operands[0], archive.data(), archive.size(), c.force, &error)) {
    return failure(error);
  }
  note(output_name(c.operands[0]) + ": " + entries_text(files.size()) + ", " + bytes_text(total) +
       " in " + bytes_text(archive.size()));
  return kExitOk;
}

/// "ARCHIVE: entry N at offset X".
std::string entry_place(const std::string& archive, size_t index, const PackEntryView& entry) {
  return input_name(archive) + ": entry " + std::to_string(index) + " at offset " +
         std::to_string(entry.header_offset);
}

/// Whether the header of `entry` frames its data as a pack archive's entry does: a stored
/// entry's bytes as they are, or a JC block with its magic that states the entry's size.
bool entry_framed(const PackEntryView& entry) {
  JcBlock block;
  return pack_entry_is_stored(entry.header) ||
         (jc_read_header(entry.data, entry.header.stored_size, &block) &&
          block.unpacked_size == entry.header.unpacked_size);
}

/// Checks that the file `name` (its bytes `file`, not a named archive) is a pack archive,
/// which has no magic of its own; its structure must hold throughout: at least one entry,
/// entries back to back from the first byte exactly to the last, and each entry framed as
/// entry_framed says. Whether the data then unpack is left to the command. False after a
/// message "NAME: not a jcpack archive", which names the entry cut short when the file is
/// a sound archive up to one that runs past its end.
bool check_pack_archive(const std::string& name, const Bytes& file) {
  PackWalk walk = pack_walk_start(file.data(), file.size());
  PackEntryView entry;
  size_t sound = 0;
  for (;;) {
    const PackWalkStep step = pack_walk_next(walk, &entry);
    if (step == PackWalkStep::end && sound > 0) return true;
    if (step == PackWalkStep::entry && entry_framed(entry)) {
      ++sound;
      continue;
    }
    std::string message = input_name(name) + ": not a jcpack archive";
    if (step == PackWalkStep::truncated && sound > 0) {
      message += " (or one cut short: entry " + std::to_string(sound + 1) + " at offset " +
                 std::to_string(entry.header_offset) + " runs past its end)";
    }
    return fail(message);
  }
}

/// Calls `visit(index, entry)` for each entry (index from 1) of an archive that passed
/// check_pack_archive.
template <typename Visit>
void walk_archive(const std::string& name, const Bytes& archive, Visit visit) {
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  for (size_t index = 1; pack_walk_next(walk, &entry) == PackWalkStep::entry; ++index) {
    set_subject(entry_place(name, index, entry));
    visit(index, entry);
  }
}

/// The header and the rows of `jcpack list` of a pack archive.
constexpr const char* kPackListHeader = "%5s %10s %10s %10s  %-6s  %s\n";
constexpr const char* kPackListRow = "%5zu %10zu %10u %10u  %-6s  %s\n";

/// list ARCHIVE: a header and one line per entry on standard output, one per failure on
/// standard error.
int list(const CommandLine& c) {
  if (c.operands.size() != 1) return usage_error("list takes ARCHIVE");
  const std::string& name = c.operands[0];
  Bytes archive, data;
  std::string error;
  if (!read_input(name, kNoLimit, &archive, &error)) return failure(error);
  if (jcpack_has_named_trailer(archive.data(), archive.size())) {
    return jcpack_named_list(name, archive);
  }
  if (!check_pack_archive(name, archive)) return kExitFailure;
  std::printf(kPackListHeader, "index", "offset", "size", "stored", "kind", "status");
  bool all_ok = true;
  uint64_t unpacked = 0;
  size_t entries = 0;
  walk_archive(name, archive, [&](size_t index, const PackEntryView& e) {
    const char* reason = unpack_entry(e, &data);
    std::printf(kPackListRow, index, e.header_offset, e.header.unpacked_size, e.header.stored_size,
                pack_entry_is_stored(e.header) ? "stored" : "jc",
                reason != nullptr ? reason : "ok");
    unpacked += e.header.unpacked_size;
    entries = index;
    if (reason != nullptr) {
      all_ok = false;
      failure(entry_place(name, index, e) + ": " + reason);
    }
  });
  note(input_name(name) + ": " + entries_text(entries) + ", " + bytes_text(unpacked) + " in " +
       bytes_text(archive.size()));
  return all_ok ? kExitOk : kExitFailure;
}

/// test ARCHIVE: "OK" or "FAILED" and the entry per line (the OK lines left out when quiet),
/// the reasons on standard error.
int test(const CommandLine& c) {
  if (c.operands.size() != 1) return usage_error("test takes ARCHIVE");
  const std::string& name = c.operands[0];
  Bytes archive, data;
  std::string error;
  if (!read_input(name, kNoLimit, &archive, &error)) return failure(error);
  if (jcpack_has_named_trailer(archive.data(), archive.size())) {
    return jcpack_named_test(name, archive);
  }
  if (!check_pack_archive(name, archive)) return kExitFailure;
  bool all_ok = true;
  size_t entries = 0;
  walk_archive(name, archive, [&](size_t index, const PackEntryView& e) {
    const char* reason = unpack_entry(e, &data);
    if (reason != nullptr || verbosity() != Verbosity::quiet) {
      std::printf("%s entry %zu\n", reason == nullptr ? "OK    " : "FAILED", index);
    }
    if (reason != nullptr) {
      all_ok = false;
      failure(entry_place(name, index, e) + ": " + reason);
    }
    ++entries;
  });
  note(input_name(name) + ": " + entries_text(entries) + " tested");
  return all_ok ? kExitOk : kExitFailure;
}

/// Whether `name` names a file in a directory, not a path.
bool plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

/// unpack ARCHIVE DIR [NAME...]: every entry that unpacks is written; each one that does
/// not is reported and written nowhere.
int unpack(const CommandLine& c) {
  if (c.operands.size() < 2) return usage_error("unpack takes ARCHIVE and DIR");
  const std::string& name = c.operands[0];
  const std::string& dir = c.operands[1];
  const std::vector<std::string> names(c.operands.begin() + 2, c.operands.end());
  for (const std::string& file : names) {
    if (!plain_file_name(file)) return usage_error("not a plain file name: '" + file + "'");
  }
  Bytes archive, data;
  std::string error;
  if (!read_input(name, kNoLimit, &archive, &error)) return failure(error);
  if (jcpack_has_named_trailer(archive.data(), archive.size())) {
    if (!names.empty()) return usage_error("a self-extractor's entries have their own names");
    return jcpack_named_unpack(name, archive, dir);
  }
  if (!check_pack_archive(name, archive)) return kExitFailure;
  size_t entries = 0;
  walk_archive(name, archive, [&](size_t, const PackEntryView&) { ++entries; });
  if (names.size() > entries) {
    return failure(input_name(name) + ": " + std::to_string(names.size()) + " names given for " +
                   entries_text(entries));
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return failure(dir + ": cannot create the directory: " + ec.message());
  bool all_ok = true;
  size_t written = 0;
  walk_archive(name, archive, [&](size_t index, const PackEntryView& e) {
    const std::string file =
        index <= names.size() ? names[index - 1] : "entry-" + std::to_string(index);
    const char* reason = unpack_entry(e, &data);
    if (reason != nullptr) {
      all_ok = false;
      failure(entry_place(name, index, e) + ": " + reason);
      return;
    }
    const std::string path = (fs::path(dir) / file).string();
    if (!write_output(path, data.data(), data.size(), true, &error)) {
      all_ok = false;
      failure(error);
      return;
    }
    ++written;
    note("wrote " + path + " (" + bytes_text(data.size()) + ")");
  });
  note(input_name(name) + ": " + std::to_string(written) + " of " + entries_text(entries) +
       " written into " + dir);
  return all_ok ? kExitOk : kExitFailure;
}

/// Runs the command line `argv`; the exit code.
int run(int argc, char** argv) {
  CommandLine line;
  int code = kExitOk;
  if (!parse_command_line(argc, argv, &line, &code)) return code;
  set_verbosity(line.verbosity);
  if (line.command == "compress") return compress(line);
  if (line.command == "decompress") return decompress(line);
  if (line.command == "pack") return pack(line);
  if (line.command == "list") return list(line);
  if (line.command == "test") return test(line);
  if (line.command == "unpack") return unpack(line);
  return jcpack_sfx(line);
}

}  // namespace

int main(int argc, char** argv) {
  g_new_file_mode = kNewFileMode & ~current_umask();
  install_signal_handlers();
  int code;
  try {
    code = run(argc, argv);
  } catch (const std::bad_alloc&) {
    temporary_remove();
    std::fprintf(stderr, "jcpack: %s: out of memory\n", g_subject);
    return kExitFailure;
  } catch (const std::exception& e) {
    temporary_remove();
    std::fprintf(stderr, "jcpack: %s: %s\n", g_subject, e.what());
    return kExitFailure;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "jcpack: standard output: cannot write: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  return code;
}
