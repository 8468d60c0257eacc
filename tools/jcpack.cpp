// jcpack: makes and reads JC blocks and pack archives.
//
// Inputs are read whole before anything is written; `-` is standard input. Outputs:
//   - `-` is standard output, and a name that is a symbolic link to the file open as
//     standard output or standard error (/dev/stdout, /dev/fd/2) is written to that stream;
//   - a device or a FIFO is written directly, as it stands;
//   - anything else (a regular file, a symbolic link, a name that does not exist yet) is
//     written to a temporary file created exclusively in the same directory and renamed over
//     the name once it is complete. A failure or an interrupt removes the temporary, so no
//     partial file is ever left, and nothing is written through a symbolic link. A regular
//     file that is replaced keeps its permission bits.
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

constexpr const char* kUsage =
    "usage:\n"
    "  jcpack compress [-l LEVEL] IN OUT          IN as one JC block\n"
    "  jcpack decompress IN OUT                   the bytes of the JC block IN\n"
    "  jcpack pack [--store] [-l LEVEL] OUT FILE...\n"
    "                                             a pack archive of the FILEs, in order\n"
    "  jcpack list ARCHIVE                        the entries and whether they unpack\n"
    "  jcpack test SELF-EXTRACTOR                 every check its --test makes\n"
    "  jcpack unpack ARCHIVE DIR [NAME...]        the entries into DIR, under the NAMEs\n"
    "                                             or entry-1, entry-2, ...\n"
    "  jcpack sfx [-l LEVEL] [-T THREADS] [--block-size MIB]\n"
    "             [--platform linux|win32|win64 | --stub FILE] -o OUT PATH...\n"
    "                                             a self-extractor of the files and\n"
    "                                             folders PATH, named from the PATH down\n"
    "list and unpack read a self-extractor too: its entries go under their own names.\n"
    "LEVEL: 1 (fastest) to 9 (smallest, the default; sfx: 6, the default). Entries are\n"
    "stored as they are with --store, or where compression would not make them smaller.\n"
    "sfx cuts the files' bytes, back to back, into blocks of MIB MiB (1 to 8, default 8),\n"
    "each compressed alone on THREADS threads (default: one per core; the output is the\n"
    "same for any number).\n"
    "- as IN, ARCHIVE or one FILE reads standard input; - as OUT writes standard output.\n"
    "A device or FIFO given as OUT is written directly; any other OUT is replaced only\n"
    "once complete (a regular file keeps its permission bits, a symbolic link is replaced,\n"
    "not written through). On failure nothing is left behind and the exit code is 1.\n";

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
/// that is given `mode` and renamed over `path` when complete; removed on failure.
bool replace_file(const std::string& path, mode_t mode, const uint8_t* data, size_t size,
                  std::string* error) {
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
  ok = ok && temporary_rename(fs::path(path).filename().c_str());
  if (!ok) {
    *error = system_error(path, "cannot write");
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

/// Writes to the device or FIFO `path` as it stands; a name that has meanwhile become a
/// regular file is replaced instead.
bool write_direct(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = system_error(path, "cannot open");
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    close(fd);
    return replace_file(path, st.st_mode & kPermissionBits, data, size, error);
  }
  bool ok = write_all(fd, data, size);
  ok = close(fd) == 0 && ok;
  if (!ok) *error = system_error(path, "cannot write");
  return ok;
}

/// Writes `size` bytes to the output `name` as the comment at the top of the file says.
/// False, with a one-line reason in `error` and nothing left behind, on failure.
bool write_output(const std::string& name, const uint8_t* data, size_t size, std::string* error) {
  set_subject(output_name(name));
  if (name == kStandardName) return write_stream(STDOUT_FILENO, name, data, size, error);
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      *error = system_error(name, "cannot write");
      return false;
    }
    return replace_file(name, g_new_file_mode, data, size, error);
  }
  if (S_ISDIR(st.st_mode)) {
    *error = name + ": is a directory";
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    return replace_file(name, st.st_mode & kPermissionBits, data, size, error);
  }
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    const int stream = stat(name.c_str(), &target) == 0 ? standard_stream_of(target) : -1;
    if (stream >= 0) return write_stream(stream, name, data, size, error);
    return replace_file(name, g_new_file_mode, data, size, error);
  }
  return write_direct(name, data, size, error);
}

// --- Commands ------------------------------------------------------------------------------

/// Options before the positional arguments: -l LEVEL, and --store where allowed.
struct Options {
  int level = kJcDefaultLevel;
  bool level_given = false;
  bool store = false;
  std::vector<std::string> args;
};

/// Splits `argv` into options and positional arguments; "-" alone is positional.
bool parse_options(const std::vector<std::string>& argv, bool allow_store, Options* options,
                   std::string* error) {
  size_t i = 0;
  for (; i < argv.size() && argv[i].size() > 1 && argv[i][0] == '-'; ++i) {
    if (argv[i] == "-l" || argv[i] == "--level") {
      if (i + 1 == argv.size() || !parse_level(argv[i + 1], &options->level)) {
        *error = "the level must be a number from 1 to 9";
        return false;
      }
      options->level_given = true;
      ++i;
    } else if (argv[i] == "--store" && allow_store) {
      options->store = true;
    } else if (argv[i] == "--") {
      ++i;
      break;
    } else {
      *error = "unknown option " + argv[i];
      return false;
    }
  }
  options->args.assign(argv.begin() + ptrdiff_t(i), argv.end());
  return true;
}

/// compress IN OUT.
int compress(const Options& o) {
  if (o.args.size() != 2) return usage_error("compress takes IN and OUT");
  const std::string in = input_name(o.args[0]);
  Bytes data, block;
  std::string error;
  if (!read_input(o.args[0], kJcMaxInputSize, &data, &error)) return failure(error);
  if (data.empty()) return failure(in + ": empty; a JC block cannot hold no bytes");
  try {
    ProgressLine progress(data.size());
    progress.begin(in, 0);
    if (!jc_encode_with_progress(data.data(), data.size(), o.level, progress.callback(), &progress,
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
    return failure(out_of_memory_text(in, data.size(), o.level));
  }
  if (!write_output(o.args[1], block.data(), block.size(), &error)) return failure(error);
  return kExitOk;
}

/// decompress IN OUT.
int decompress(const Options& o) {
  if (o.args.size() != 2) return usage_error("decompress takes IN and OUT");
  const std::string in = input_name(o.args[0]);
  Bytes block, data;
  std::string error;
  if (!read_input(o.args[0], kNoLimit, &block, &error)) return failure(error);
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
  if (!write_output(o.args[1], data.data(), data.size(), &error)) return failure(error);
  return kExitOk;
}

/// Whether standard input is named more than once among `names`.
bool standard_input_twice(const std::vector<std::string>& names) {
  size_t count = 0;
  for (const std::string& name : names) count += name == kStandardName ? 1 : 0;
  return count > 1;
}

/// pack [--store] [-l LEVEL] OUT FILE...
int pack(const Options& o) {
  if (o.args.size() < 2) return usage_error("pack takes OUT and at least one FILE");
  const std::vector<std::string> files(o.args.begin() + 1, o.args.end());
  if (standard_input_twice(files)) return usage_error("standard input given twice");
  Bytes archive, data;
  std::string error;
  for (const std::string& file : files) {
    if (!read_input(file, kJcMaxInputSize, &data, &error)) return failure(error);
    try {
      ProgressLine progress(data.size());
      progress.begin(input_name(file), 0);
      if (!jc_append_pack_entry(archive, data.data(), data.size(), o.level, o.store,
                                progress.callback(), &progress)) {
        return failure(input_name(file) + ": cannot be packed");
      }
    } catch (const std::bad_alloc&) {
      return failure(out_of_memory_text(input_name(file), data.size(), o.level));
    }
  }
  if (!write_output(o.args[0], archive.data(), archive.size(), &error)) return failure(error);
  return kExitOk;
}

/// "ARCHIVE: entry N at offset X".
std::string entry_place(const std::string& archive, size_t index, const PackEntryView& entry) {
  return input_name(archive) + ": entry " + std::to_string(index) + " at offset " +
         std::to_string(entry.header_offset);
}

/// Walks the archive and calls `visit(index, entry)` for each entry (index from 1).
/// Returns false, after a message, when the archive is cut short.
template <typename Visit>
bool walk_archive(const std::string& name, const Bytes& archive, Visit visit) {
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  for (size_t index = 1;; ++index) {
    const PackWalkStep step = pack_walk_next(walk, &entry);
    if (step == PackWalkStep::end) return true;
    if (step == PackWalkStep::truncated) {
      failure(entry_place(name, index, entry) + ": cut short");
      return false;
    }
    set_subject(entry_place(name, index, entry));
    visit(index, entry);
  }
}

/// list ARCHIVE: one line per entry on standard output, one per failure on standard error.
int list(const Options& o) {
  if (o.args.size() != 1) return usage_error("list takes ARCHIVE");
  Bytes archive, data;
  std::string error;
  if (!read_input(o.args[0], kNoLimit, &archive, &error)) return failure(error);
  if (jcpack_has_named_trailer(archive.data(), archive.size())) {
    return jcpack_named_list(o.args[0], archive);
  }
  bool all_ok = true;
  const bool whole = walk_archive(o.args[0], archive, [&](size_t index, const PackEntryView& e) {
    const char* reason = unpack_entry(e, &data);
    std::printf("%zu %zu %u %u %s %s\n", index, e.header_offset, e.header.unpacked_size,
                e.header.stored_size, pack_entry_is_stored(e.header) ? "stored" : "jc",
                reason != nullptr ? reason : "ok");
    if (reason != nullptr) {
      all_ok = false;
      failure(entry_place(o.args[0], index, e) + ": " + reason);
    }
  });
  return whole && all_ok ? kExitOk : kExitFailure;
}

/// Whether `name` names a file in a directory, not a path.
bool plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

/// unpack ARCHIVE DIR [NAME...]: every entry that unpacks is written; each one that does
/// not is reported and written nowhere.
int unpack(const Options& o) {
  if (o.args.size() < 2) return usage_error("unpack takes ARCHIVE and DIR");
  const std::vector<std::string> names(o.args.begin() + 2, o.args.end());
  for (const std::string& name : names) {
    if (!plain_file_name(name)) return usage_error("not a plain file name: '" + name + "'");
  }
  Bytes archive, data;
  std::string error;
  if (!read_input(o.args[0], kNoLimit, &archive, &error)) return failure(error);
  if (jcpack_has_named_trailer(archive.data(), archive.size())) {
    if (!names.empty()) return usage_error("a self-extractor's entries have their own names");
    return jcpack_named_unpack(o.args[0], archive, o.args[1]);
  }
  size_t entries = 0;
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  while (pack_walk_next(walk, &entry) == PackWalkStep::entry) ++entries;
  if (names.size() > entries) {
    return failure(input_name(o.args[0]) + ": " + std::to_string(names.size()) +
                   " names given for " + std::to_string(entries) + " entries");
  }
  std::error_code ec;
  fs::create_directories(o.args[1], ec);
  if (ec) return failure(o.args[1] + ": cannot create the directory: " + ec.message());
  bool all_ok = true;
  const bool whole = walk_archive(o.args[0], archive, [&](size_t index, const PackEntryView& e) {
    const std::string name =
        index <= names.size() ? names[index - 1] : "entry-" + std::to_string(index);
    const char* reason = unpack_entry(e, &data);
    if (reason != nullptr) {
      all_ok = false;
      failure(entry_place(o.args[0], index, e) + ": " + reason);
      return;
    }
    if (!write_output((fs::path(o.args[1]) / name).string(), data.data(), data.size(), &error)) {
      all_ok = false;
      failure(error);
    }
  });
  return whole && all_ok ? kExitOk : kExitFailure;
}

/// Runs the command in `argv`; the exit code.
int run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "jcpack: no command given\n%s", kUsage);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const std::vector<std::string> rest(argv + 2, argv + argc);
  if (command == "sfx") return jcpack_sfx(rest);
  Options options;
  std::string error;
  if (!parse_options(rest, command == "pack", &options, &error)) return usage_error(error);
  const bool takes_level = command == "compress" || command == "pack";
  if (!takes_level && (options.level_given || options.store)) {
    return usage_error(command + " takes no options");
  }
  if (command == "compress") return compress(options);
  if (command == "decompress") return decompress(options);
  if (command == "pack") return pack(options);
  if (command == "list") return list(options);
  if (command == "unpack") return unpack(options);
  if (command == "test") {
    if (options.args.size() != 1) return usage_error("test takes SELF-EXTRACTOR");
    Bytes archive;
    if (!read_input(options.args[0], kNoLimit, &archive, &error)) return failure(error);
    return jcpack_named_test(options.args[0], archive);
  }
  return usage_error("unknown command '" + command + "'");
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
