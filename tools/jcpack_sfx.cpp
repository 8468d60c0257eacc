// jcpack's self-extractors. A self-extractor is a stub program followed by a named archive:
// one pack entry per file or folder, the table of their names and a trailer at the very end
// (pack/named_archive.h). `jcpack sfx` makes one in four steps, so that a refused input
// never leaves a file behind:
//
//   1. gather: every PATH is looked at and every folder walked (sorted by name) before
//      anything is written; a name the stub would refuse, two names for one file, a file too
//      large for the format, or a missing or unreadable input ends the command here;
//   2. write: the stub and then one entry at a time, each file read and compressed on its
//      own, go to a temporary file beside OUT, with a running CRC-32 of the entries;
//   3. finish: the table and the trailer follow, and the finished file is read back through
//      the archive reader (trailer, checksum, table, one entry per record);
//   4. the temporary gets the executable bits and is renamed over OUT.
#include "tools/jcpack_sfx.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "jc/jc_stream_count.h"
#include "jc/pack_format.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"
#include "tools/signal_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

/// A file must be smaller than 2 GiB: sizes are 32-bit fields that readers hold as signed.
constexpr uint64_t kMaxFileSize = (uint64_t(1) << 31) - 1;
constexpr size_t kCopyChunk = 1 << 16;           ///< bytes read at a time
constexpr uint64_t kProgressMinimum = 16 << 20;  ///< input bytes that earn a progress line
constexpr size_t kProgressNameWidth = 50;        ///< characters of a name in that line
constexpr mode_t kExecutableMode = 0777;         ///< before the umask
constexpr mode_t kPlainMode = 0666;              ///< before the umask
constexpr mode_t kNewFolderMode = 0777;          ///< before the umask
constexpr mode_t kTemporaryMode = 0600;          ///< while a file is being written
constexpr size_t kTemporaryNameCapacity = 64;    ///< ".jcpack-PID-N" and its zero
constexpr unsigned kTemporaryAttempts = 1000;    ///< names tried before giving up
constexpr const char* kNativeStub = "entpacker-stub";
constexpr const char* kWin32Stub = "entpacker-stub-win32.exe";
constexpr const char* kWin64Stub = "entpacker-stub-win64.exe";
constexpr uint8_t kWindowsProgramMagic[2] = {'M', 'Z'};

// --- Messages ------------------------------------------------------------------------------

/// A failure: one line, exit code kExitFailure.
int failure(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s\n", message.c_str());
  return kExitFailure;
}

/// A failure reported in one line; false, for the functions that return whether they
/// succeeded.
bool fail(const std::string& message) {
  failure(message);
  return false;
}

/// A usage mistake: one line, exit code kExitUsage.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s (jcpack --help shows the usage)\n", message.c_str());
  return kExitUsage;
}

/// A note that does not change the exit code.
void warning(const std::string& message) {
  std::fprintf(stderr, "jcpack: warning: %s\n", message.c_str());
}

/// "NAME: WHAT: the reason of errno".
std::string system_error(const std::string& name, const char* what) {
  return name + ": " + what + ": " + std::strerror(errno);
}

/// `size` bytes of a name as text for a message, each control byte shown as `?`.
std::string printable(const uint8_t* bytes, size_t size) {
  std::string text(reinterpret_cast<const char*>(bytes), size);
  for (char& c : text) {
    if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) c = '?';
  }
  return text;
}

std::string printable(const std::string& name) {
  return printable(reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

/// Whether the last bytes of the `size` bytes at `file` start with a named trailer's magic.
bool ends_with_named_magic(const uint8_t* file, size_t size) {
  return size >= kNamedArchiveTrailerSize &&
         std::memcmp(file + size - kNamedArchiveTrailerSize, kNamedArchiveMagic,
                     sizeof kNamedArchiveMagic) == 0;
}

// --- The temporary file and signals --------------------------------------------------------

/// The temporary file being written: its folder's handle and its name there, removed by
/// remove_temporary() and by the signal handler; the name is empty when there is none.
/// Changed only with the handled signals blocked.
int g_temporary_folder = -1;
char g_temporary_name[kTemporaryNameCapacity];

/// Removes the temporary and ends the process by the signal's default action.
extern "C" void on_sfx_signal(int signal_number) {
  if (g_temporary_name[0] != '\0') unlinkat(g_temporary_folder, g_temporary_name, 0);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

/// Makes the handled signals remove this file's temporary.
void install_signal_handlers() {
  for (int s : kHandledSignals) signal(s, on_sfx_signal);
  signal(SIGXFSZ, SIG_IGN);
}

/// Creates a new, empty temporary file in the folder `folder` (exclusively, never through a
/// link) and registers it for removal. Its descriptor, or -1 with errno set.
int create_temporary(int folder) {
  static unsigned serial = 0;
  for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    SignalBlock block;
    std::snprintf(g_temporary_name, sizeof g_temporary_name, ".jcpack-%ld-%u", long(getpid()),
                  serial++);
    const int fd = openat(folder, g_temporary_name,
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTemporaryMode);
    if (fd >= 0) {
      g_temporary_folder = folder;
      return fd;
    }
    g_temporary_name[0] = '\0';
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

/// Removes the temporary file, if there is one.
void remove_temporary() {
  SignalBlock block;
  if (g_temporary_name[0] != '\0') unlinkat(g_temporary_folder, g_temporary_name, 0);
  g_temporary_name[0] = '\0';
}

/// Renames the temporary over `name` in its folder. False, with errno set and the temporary
/// still registered, on failure.
bool rename_temporary(const char* name) {
  SignalBlock block;
  if (renameat(g_temporary_folder, g_temporary_name, g_temporary_folder, name) != 0) {
    return false;
  }
  g_temporary_name[0] = '\0';
  return true;
}

/// The process's umask, left as it is.
mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// --- Reading and writing -------------------------------------------------------------------

/// Writes `size` bytes to `fd`. False, with errno set, when a write fails.
bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

/// Reads up to `size` bytes from `fd` into `data`; the count read (less only at the end), or
/// -1 with errno set.
ssize_t read_full(int fd, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

/// Reads the regular file `fd` whole into `out`; its size went into `expected` when it was
/// looked at. False, with a reason in `error`, when a read fails or the file holds more
/// than kMaxFileSize bytes by now.
bool read_file(int fd, const std::string& shown, uint64_t expected, Bytes* out,
               std::string* error) {
  out->resize(size_t(std::min(expected, kMaxFileSize)) + 1);
  size_t size = 0;
  for (;;) {
    if (out->size() - size < kCopyChunk && size <= kMaxFileSize) out->resize(size + kCopyChunk);
    const ssize_t n = read_full(fd, out->data() + size, out->size() - size);
    if (n < 0) {
      *error = system_error(shown, "cannot read");
      return false;
    }
    size += size_t(n);
    if (size > kMaxFileSize) {
      *error = shown + ": 2 GiB or larger; a self-extractor holds files below 2 GiB";
      return false;
    }
    if (size < out->size()) break;
  }
  out->resize(size);
  return true;
}

// --- Gathering the inputs ------------------------------------------------------------------

/// One entry to be: where its bytes come from and what the table says about it.
struct SourceItem {
  std::string source;  ///< the path to open
  std::string name;    ///< the entry's path in the archive
  int64_t mtime = 0;
  uint64_t size = 0;
  bool folder = false;
  bool executable = false;
  bool follow = false;  ///< a PATH given by the user: a link to it is followed
};

/// What `jcpack sfx` has gathered, and what it must leave out.
struct Gathered {
  std::vector<SourceItem> items;
  uint64_t file_bytes = 0;  ///< sum of the files' sizes
  bool output_exists = false;
  dev_t output_device = 0;  ///< OUT's file, when it exists, is not taken as an input
  ino_t output_inode = 0;
};

/// The name under which the PATH `arg` is stored: its last part, or for `.`, `..` and the
/// like the last part of the folder they stand for. Empty when there is none (`/`).
std::string top_name(const std::string& arg) {
  std::string path = arg;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    char* real = realpath(arg.c_str(), nullptr);
    if (real == nullptr) return "";
    const std::string whole = real;
    std::free(real);
    name = whole.substr(whole.rfind('/') + 1);
  }
  return name;
}

/// Whether `st` is OUT's own file.
bool is_output(const Gathered& g, const struct stat& st) {
  return g.output_exists && st.st_dev == g.output_device && st.st_ino == g.output_inode;
}

/// Checks that the entry name of `item` is one the stub extracts. False after a message.
bool name_is_extractable(const SourceItem& item) {
  const EntryNameProblem problem = entry_name_check(bytes_of(item.name), item.name.size());
  if (problem == EntryNameProblem::ok) return true;
  failure(printable(item.source) + ": cannot be stored as '" + printable(item.name) +
          "': the self-extractor would refuse that name (" + entry_name_problem_text(problem) +
          ")");
  return false;
}

/// Adds the regular file `source` (looked at as `st`) as `name`, once it opens for
/// reading. False after a message.
bool add_file(const std::string& source, const std::string& name, const struct stat& st,
              bool follow, Gathered* g) {
  SourceItem item;
  item.source = source;
  item.name = name;
  item.mtime = int64_t(st.st_mtim.tv_sec);
  item.size = uint64_t(st.st_size);
  item.executable = (st.st_mode & S_IXUSR) != 0;
  item.follow = follow;
  if (!name_is_extractable(item)) return false;
  if (item.size > kMaxFileSize) {
    return fail(printable(source) + ": " + std::to_string(item.size) +
                " bytes; a self-extractor holds files below 2 GiB");
  }
  const int fd = open(source.c_str(),
                      O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return fail(system_error(printable(source), "cannot read"));
  close(fd);
  g->file_bytes += item.size;
  g->items.push_back(std::move(item));
  return true;
}

/// Adds the folder `source` (looked at as `st`) as `name`. False after a message.
bool add_folder(const std::string& source, const std::string& name, const struct stat& st,
                Gathered* g) {
  SourceItem item;
  item.source = source;
  item.name = name;
  item.mtime = int64_t(st.st_mtim.tv_sec);
  item.folder = true;
  if (!name_is_extractable(item)) return false;
  g->items.push_back(std::move(item));
  return true;
}

/// The names in the folder `source` but `.` and `..`, sorted bytewise. False after a
/// message when the folder cannot be read.
bool folder_names(const std::string& source, std::vector<std::string>* names) {
  DIR* dir = opendir(source.c_str());
  if (dir == nullptr) return fail(system_error(printable(source), "cannot read"));
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const int read_error = errno;
  closedir(dir);
  if (read_error != 0) {
    errno = read_error;
    return fail(system_error(printable(source), "cannot read"));
  }
  std::sort(names->begin(), names->end());
  return true;
}

/// Adds what the folder `source` holds, stored under `name`: folders and regular files,
/// recursively; links and other kinds of file are left out with a warning. False after a
/// message.
bool walk_folder(const std::string& source, const std::string& name, Gathered* g) {
  std::vector<std::string> names;
  if (!folder_names(source, &names)) return false;
  for (const std::string& child : names) {
    const std::string child_source = source + (source.back() == '/' ? "" : "/") + child;
    const std::string child_name = name + kEntryNameSeparator + child;
    struct stat st;
    if (lstat(child_source.c_str(), &st) != 0) {
      return fail(system_error(printable(child_source), "cannot read"));
    }
    if (S_ISLNK(st.st_mode)) {
      warning(printable(child_source) + ": symbolic link, skipped");
    } else if (is_output(*g, st)) {
      warning(printable(child_source) + ": is the output file, skipped");
    } else if (S_ISDIR(st.st_mode)) {
      if (!add_folder(child_source, child_name, st, g) ||
          !walk_folder(child_source, child_name, g)) {
        return false;
      }
    } else if (S_ISREG(st.st_mode)) {
      if (!add_file(child_source, child_name, st, false, g)) return false;
    } else {
      warning(printable(child_source) + ": neither a regular file nor a folder, skipped");
    }
  }
  return true;
}

/// Adds the PATH `arg` as the user gave it: a file, or a folder with all it holds. A link
/// named here is followed. False after a message.
bool gather_path(const std::string& arg, Gathered* g) {
  struct stat st;
  if (stat(arg.c_str(), &st) != 0) return fail(system_error(printable(arg), "cannot read"));
  const std::string name = top_name(arg);
  if (name.empty()) return fail(printable(arg) + ": has no name to store it under");
  if (is_output(*g, st)) return fail(printable(arg) + ": is the output file");
  if (S_ISREG(st.st_mode)) return add_file(arg, name, st, true, g);
  if (S_ISDIR(st.st_mode)) return add_folder(arg, name, st, g) && walk_folder(arg, name, g);
  return fail(printable(arg) + ": neither a regular file nor a folder");
}

/// `name` as a system that ignores case compares it (see entry_names_equal_ignoring_case):
/// ASCII letters and the Latin-1 capitals U+00C0-U+00DE (but ×) made small.
std::string case_folded(const std::string& name) {
  constexpr uint8_t kCaseBit = 0x20;
  constexpr uint8_t kLatin1Lead = 0xC3;
  std::string folded = name;
  uint8_t previous = 0;
  for (char& c : folded) {
    const uint8_t b = uint8_t(c);
    const bool ascii_capital = b >= 'A' && b <= 'Z';
    const bool latin1_capital = previous == kLatin1Lead && b >= 0x80 && b <= 0x9E && b != 0x97;
    if (ascii_capital || latin1_capital) c = char(b | kCaseBit);
    previous = b;
  }
  return folded;
}

/// Checks that no two items have the same name, or names that differ only in case when
/// `ignore_case` is set. False after a message naming both.
bool names_are_distinct(const std::vector<SourceItem>& items, bool ignore_case) {
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    keys.emplace_back(ignore_case ? case_folded(items[i].name) : items[i].name, i);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t k = 1; k < keys.size(); ++k) {
    if (keys[k].first != keys[k - 1].first) continue;
    const SourceItem& a = items[keys[k - 1].second];
    const SourceItem& b = items[keys[k].second];
    const bool same_case = a.name == b.name;
    failure(printable(a.source) + " and " + printable(b.source) + ": both would be stored as '" +
            printable(a.name) + "'" +
            (same_case ? "" : " and '" + printable(b.name) + "', the same name on Windows"));
    return false;
  }
  return true;
}

// --- Options and the stub ------------------------------------------------------------------

/// What `jcpack sfx` was asked to do.
struct SfxOptions {
  int level = kJcDefaultLevel;
  std::string platform;  ///< linux, win32, win64; empty with --stub
  std::string stub;      ///< --stub FILE
  std::string output;
  std::vector<std::string> paths;
};

/// Parses a level digit.
bool parse_level(const std::string& text, int* level) {
  if (text.size() != 1 || text[0] < '0' + kJcMinLevel || text[0] > '0' + kJcMaxLevel) {
    return false;
  }
  *level = text[0] - '0';
  return true;
}

/// Reads the options of `jcpack sfx` (anywhere before `--`) and its PATHs. False with the
/// mistake in `error`.
bool parse_sfx_options(const std::vector<std::string>& args, SfxOptions* o, std::string* error) {
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      o->paths.push_back(a);
      continue;
    }
    const bool takes_value = a == "-l" || a == "--level" || a == "--platform" || a == "--stub" ||
                             a == "-o" || a == "--output";
    if (takes_value && i + 1 == args.size()) {
      *error = a + " needs a value";
      return false;
    }
    if (a == "--") {
      options_end = true;
    } else if (a == "-l" || a == "--level") {
      if (!parse_level(args[++i], &o->level)) {
        *error = "the level must be a number from 1 to 9";
        return false;
      }
    } else if (a == "--platform") {
      o->platform = args[++i];
      if (o->platform != "linux" && o->platform != "win32" && o->platform != "win64") {
        *error = "the platform must be linux, win32 or win64";
        return false;
      }
    } else if (a == "--stub") {
      o->stub = args[++i];
    } else if (a == "-o" || a == "--output") {
      o->output = args[++i];
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  if (!o->platform.empty() && !o->stub.empty()) {
    *error = "--platform and --stub exclude each other";
    return false;
  }
  if (o->output.empty()) {
    *error = "sfx needs -o OUT";
    return false;
  }
  if (o->output == "-") {
    *error = "sfx writes a file, not standard output";
    return false;
  }
  if (o->paths.empty()) {
    *error = "sfx needs at least one PATH";
    return false;
  }
  return true;
}

/// The folder jcpack's own program lies in, or "" when the system does not tell.
std::string own_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

/// The stub for `platform`, next to jcpack. Empty after a message saying what is missing
/// and how to build it.
std::string find_stub(const std::string& platform) {
  const char* file = platform == "win32"   ? kWin32Stub
                     : platform == "win64" ? kWin64Stub
                                           : kNativeStub;
  const std::string folder = own_folder();
  if (folder.empty()) {
    failure(std::string("cannot find the folder of jcpack's own program to look for ") + file +
            "; name the stub with --stub FILE");
    return "";
  }
  const std::string path = folder + "/" + file;
  if (access(path.c_str(), F_OK) == 0) return path;
  const std::string how = platform == "linux"
                              ? "build it with `make` (or `cmake --build build --target "
                                "entpacker-stub`)"
                              : "build the Windows stubs with `make windows`";
  failure(path + ": the " + platform + " stub is missing; " + how +
          ", or name a stub with --stub FILE");
  return "";
}

/// The stub file, open for reading, and what it tells.
struct Stub {
  int fd = -1;
  uint64_t size = 0;
  bool windows = false;  ///< a Windows program: names that differ only in case clash
};

/// Opens the stub `path`: a regular file that is not empty. False after a message.
bool open_stub(const std::string& path, Stub* stub) {
  stub->fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (stub->fd < 0) return fail(system_error(path, "cannot read the stub"));
  struct stat st;
  if (fstat(stub->fd, &st) != 0) return fail(system_error(path, "cannot read the stub"));
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    return fail(path + ": the stub is not a program (not a regular file, or empty)");
  }
  stub->size = uint64_t(st.st_size);
  uint8_t head[sizeof kWindowsProgramMagic];
  stub->windows = pread(stub->fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                  std::memcmp(head, kWindowsProgramMagic, sizeof head) == 0;
  uint8_t tail[kNamedArchiveTrailerSize];
  if (stub->size >= sizeof tail &&
      pread(stub->fd, tail, sizeof tail, off_t(stub->size - sizeof tail)) == ssize_t(sizeof tail) &&
      ends_with_named_magic(tail, sizeof tail)) {
    warning(path + ": the stub carries an archive already; the new one is put behind it");
  }
  return true;
}

// --- Writing the self-extractor ------------------------------------------------------------

/// OUT's folder and name, and the temporary being written there.
struct Output {
  std::string shown;  ///< OUT as given, for messages
  std::string name;   ///< OUT's last part
  int folder = -1;
  int fd = -1;
  uint64_t size = 0;           ///< bytes written so far
  uint64_t entries_size = 0;   ///< of them, in the entries part
  uint32_t entries_crc32 = 0;  ///< CRC-32 of the entries part so far
};

/// Opens OUT's folder and checks that OUT is a name a file can be renamed over: missing, a
/// regular file or a link (replaced, not written through). Notes OUT's file in `g` so that
/// it is not taken as an input. False after a message.
bool prepare_output(const std::string& out, Output* o, Gathered* g) {
  o->shown = out;
  const size_t slash = out.rfind('/');
  o->name = slash == std::string::npos ? out : out.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : out.substr(0, slash);
  if (o->name.empty() || o->name == "." || o->name == "..") {
    return fail(out + ": not a file name");
  }
  o->folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (o->folder < 0) return fail(system_error(folder, "cannot open the folder of the output"));
  struct stat st;
  if (fstatat(o->folder, o->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    return fail(system_error(out, "cannot write"));
  }
  if (S_ISDIR(st.st_mode)) return fail(out + ": is a folder");
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    return fail(out + ": not a regular file; a self-extractor is written only as one");
  }
  if (S_ISREG(st.st_mode)) {
    g->output_exists = true;
    g->output_device = st.st_dev;
    g->output_inode = st.st_ino;
  }
  return true;
}

/// Appends `size` bytes to the temporary; `entries` when they belong to the entries part.
bool output_write(Output* o, const uint8_t* data, size_t size, bool entries) {
  if (!write_all(o->fd, data, size)) return fail(system_error(o->shown, "cannot write"));
  o->size += size;
  if (entries) {
    o->entries_size += size;
    o->entries_crc32 = crc32_update_sliced(o->entries_crc32, data, size);
  }
  return true;
}

/// Copies the stub to the start of the temporary. False after a message.
bool copy_stub(const std::string& path, const Stub& stub, Output* o) {
  Bytes chunk(kCopyChunk);
  uint64_t copied = 0;
  for (;;) {
    const ssize_t n = read_full(stub.fd, chunk.data(), chunk.size());
    if (n < 0) return fail(system_error(path, "cannot read the stub"));
    if (n == 0) break;
    if (!output_write(o, chunk.data(), size_t(n), false)) return false;
    copied += uint64_t(n);
  }
  if (copied != stub.size) return fail(path + ": the stub changed while it was read");
  return true;
}

/// The progress line on standard error: shown when it is a terminal and the input is large.
struct Progress {
  bool shown = false;
  uint64_t total = 0;    ///< bytes of all files
  uint64_t done = 0;     ///< bytes of the files before the current one
  std::string name;      ///< the current entry's name, as shown
  unsigned percent = 0;  ///< the percentage on the line
};

/// Draws the line: the percentage of all files' bytes done and the current entry.
void progress_draw(Progress& p, uint64_t done) {
  p.percent = unsigned(p.total == 0 ? 100 : done * 100 / p.total);
  std::fprintf(stderr, "\r\033[Kjcpack: sfx: %3u%% %s", p.percent, p.name.c_str());
  std::fflush(stderr);
}

/// Shows how far the command has come, before the item `name` is compressed.
void progress_show(Progress& p, const std::string& name) {
  if (!p.shown) return;
  p.name = printable(name);
  if (p.name.size() > kProgressNameWidth) {
    p.name = "..." + p.name.substr(p.name.size() - kProgressNameWidth);
  }
  progress_draw(p, p.done);
}

/// The encoder's report on the current file: `done` of its bytes are encoded.
void progress_report(void* context, uint64_t done, uint64_t /*file_size*/) {
  Progress& p = *static_cast<Progress*>(context);
  const uint64_t all_done = p.done + done;
  if (p.total != 0 && unsigned(all_done * 100 / p.total) != p.percent) progress_draw(p, all_done);
}

/// Clears the progress line.
void progress_end(const Progress& p) {
  if (p.shown) std::fputs("\r\033[K", stderr);
}

/// Writes the entry of `item`: a folder's empty entry, or the file read now and compressed
/// at `level`. False after a message.
bool write_entry(const SourceItem& item, int level, Output* o, Bytes* data, Bytes* entry,
                 Progress* progress) {
  entry->clear();
  if (!item.folder) {
    const std::string shown = printable(item.source);
    const int fd = open(item.source.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                                                 (item.follow ? 0 : O_NOFOLLOW));
    if (fd < 0) return fail(system_error(shown, "cannot read"));
    struct stat st;
    std::string error;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) error = shown + ": no longer a regular file";
    ok = ok && read_file(fd, shown, uint64_t(st.st_size), data, &error);
    close(fd);
    if (!ok) return fail(error);
  } else {
    data->clear();
  }
  const JcProgress report = progress->shown ? progress_report : nullptr;
  if (!jc_append_pack_entry(*entry, data->data(), data->size(), level, false, report, progress)) {
    return fail(printable(item.source) + ": cannot be packed");
  }
  return output_write(o, entry->data(), entry->size(), true);
}

/// write_entry, with running out of memory reported as what the level needs.
bool write_entry_or_report(const SourceItem& item, int level, Output* o, Bytes* data, Bytes* entry,
                           Progress* progress) {
  try {
    return write_entry(item, level, o, data, entry, progress);
  } catch (const std::bad_alloc&) {
    const uint64_t need = jc_encode_memory(size_t(item.size), level) + 2 * item.size;
    return fail(printable(item.source) + ": out of memory: level " + std::to_string(level) +
                " needs about " + std::to_string(need >> 20) + " MiB for its " +
                std::to_string(item.size) + " bytes");
  }
}

/// Appends `size` bytes of `value`, least significant first.
void put_le(Bytes& out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

/// The table of names of `items` in the archive's layout.
Bytes make_table(const std::vector<SourceItem>& items) {
  Bytes table;
  for (const SourceItem& item : items) {
    uint8_t flags = item.folder ? kNamedEntryDirectory : 0;
    if (item.executable) flags |= kNamedEntryExecutable;
    put_le(table, item.name.size(), 2);
    put_le(table, uint64_t(item.mtime), 8);
    put_le(table, flags, 1);
    table.insert(table.end(), item.name.begin(), item.name.end());
  }
  return table;
}

/// The trailer after the entries part written so far and `table`.
Bytes make_trailer(const Output& o, const Bytes& table, uint32_t count) {
  Bytes trailer(kNamedArchiveMagic, kNamedArchiveMagic + sizeof kNamedArchiveMagic);
  put_le(trailer, kNamedArchiveVersion, 4);
  put_le(trailer, count, 4);
  put_le(trailer, table.size(), 8);
  put_le(trailer, o.entries_size, 8);
  put_le(trailer, crc32_update_sliced(o.entries_crc32, table.data(), table.size()), 4);
  put_le(trailer, crc32_update(0, trailer.data(), trailer.size()), 4);
  return trailer;
}

/// Reads the finished temporary back through the archive reader: a valid trailer whose
/// checksum matches, and a table that holds `count` records with one entry each. False
/// after a message.
bool output_reads_back(const Output& o, uint32_t count) {
  void* map = mmap(nullptr, size_t(o.size), PROT_READ, MAP_SHARED, o.fd, 0);
  if (map == MAP_FAILED) return fail(system_error(o.shown, "cannot read back"));
  const uint8_t* file = static_cast<const uint8_t*>(map);
  const size_t tail = std::min(size_t(o.size), kNamedArchiveTrailerSize);
  NamedArchiveTrailer t;
  bool ok = named_archive_read_trailer(file + o.size - tail, tail, o.size, &t) ==
                NamedTrailerStatus::valid &&
            t.entry_count == count &&
            named_archive_digest_matches(t, file + t.entries_offset,
                                         size_t(t.entries_size + t.table_size)) &&
            named_archive_entries_match(file + t.entries_offset, size_t(t.entries_size),
                                        file + t.table_offset, size_t(t.table_size), count);
  munmap(map, size_t(o.size));
  if (!ok) failure(o.shown + ": the written archive does not read back as written");
  return ok;
}

/// Writes the whole self-extractor to a temporary beside OUT and renames it over OUT. False
/// after a message, with the temporary removed.
bool write_self_extractor(const SfxOptions& opt, const std::string& stub_path, const Stub& stub,
                          const Gathered& g, Output* o) {
  o->fd = create_temporary(o->folder);
  if (o->fd < 0) return fail(system_error(o->shown, "cannot create a temporary file beside it"));
  Progress progress;
  progress.total = g.file_bytes;
  progress.shown = isatty(STDERR_FILENO) && g.file_bytes >= kProgressMinimum;
  bool ok = copy_stub(stub_path, stub, o);
  Bytes data, entry;
  for (size_t i = 0; ok && i < g.items.size(); ++i) {
    progress_show(progress, g.items[i].name);
    ok = write_entry_or_report(g.items[i], opt.level, o, &data, &entry, &progress);
    progress.done += g.items[i].size;
  }
  progress_end(progress);
  data = Bytes();
  entry = Bytes();
  if (ok) {
    const Bytes table = make_table(g.items);
    const Bytes trailer = make_trailer(*o, table, uint32_t(g.items.size()));
    ok = output_write(o, table.data(), table.size(), false) &&
         output_write(o, trailer.data(), trailer.size(), false) &&
         output_reads_back(*o, uint32_t(g.items.size()));
  }
  if (ok && (fchmod(o->fd, kExecutableMode & ~current_umask()) != 0 || fsync(o->fd) != 0)) {
    ok = fail(system_error(o->shown, "cannot write"));
  }
  ok = close(o->fd) == 0 && ok;
  o->fd = -1;
  if (ok && !rename_temporary(o->name.c_str())) ok = fail(system_error(o->shown, "cannot write"));
  if (!ok) remove_temporary();
  return ok;
}

/// `jcpack sfx` once its options are read.
int make_self_extractor(const SfxOptions& opt) {
  const std::string platform = opt.stub.empty() && opt.platform.empty() ? "linux" : opt.platform;
  const std::string stub_path = opt.stub.empty() ? find_stub(platform) : opt.stub;
  if (stub_path.empty()) return kExitFailure;
  Stub stub;
  Gathered g;
  Output o;
  bool ok = open_stub(stub_path, &stub) && prepare_output(opt.output, &o, &g);
  for (size_t i = 0; ok && i < opt.paths.size(); ++i) ok = gather_path(opt.paths[i], &g);
  const bool windows = platform == "win32" || platform == "win64" || stub.windows;
  ok = ok && names_are_distinct(g.items, windows);
  if (ok && g.items.size() > kNamedArchiveMaxEntries) {
    ok = fail(std::to_string(g.items.size()) + " entries; a self-extractor holds at most " +
              std::to_string(kNamedArchiveMaxEntries));
  }
  ok = ok && write_self_extractor(opt, stub_path, stub, g, &o);
  if (stub.fd >= 0) close(stub.fd);
  if (o.folder >= 0) close(o.folder);
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

int jcpack_sfx(const std::vector<std::string>& args) {
  SfxOptions options;
  std::string error;
  if (!parse_sfx_options(args, &options, &error)) return usage_error(error);
  install_signal_handlers();
  try {
    return make_self_extractor(options);
  } catch (...) {
    remove_temporary();
    throw;
  }
}
