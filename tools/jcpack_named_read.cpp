// `jcpack list` and `jcpack unpack` of a self-extractor: they read the named archive at the
// end of any file held in memory (pack/named_archive.h). unpack checks the whole archive
// first and then writes every entry through folder handles opened without following links,
// so that no entry reaches outside the target folder.
#include "tools/jcpack_named_read.h"

#include <fcntl.h>
#include <signal.h>
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
#include "jc/jc_entry.h"
#include "jc/jc_stream_count.h"
#include "jc/pack_format.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"
#include "tools/signal_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;

constexpr mode_t kExecutableMode = 0777;       ///< before the umask
constexpr mode_t kPlainMode = 0666;            ///< before the umask
constexpr mode_t kNewFolderMode = 0777;        ///< before the umask
constexpr mode_t kTemporaryMode = 0600;        ///< while a file is being written
constexpr size_t kTemporaryNameCapacity = 64;  ///< ".jcpack-PID-N" and its zero
constexpr unsigned kTemporaryAttempts = 1000;  ///< names tried before giving up

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

/// Whether the last bytes of the `size` bytes at `file` start with a named trailer's magic.
bool ends_with_named_magic(const uint8_t* file, size_t size) {
  return size >= kNamedArchiveTrailerSize &&
         std::memcmp(file + size - kNamedArchiveTrailerSize, kNamedArchiveMagic,
                     sizeof kNamedArchiveMagic) == 0;
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

// --- The temporary file and signals --------------------------------------------------------

/// The temporary file being written: its folder's handle and its name there, removed by
/// remove_temporary() and by the signal handler; the name is empty when there is none.
/// Changed only with the handled signals blocked.
int g_temporary_folder = -1;
char g_temporary_name[kTemporaryNameCapacity];

/// Removes the temporary and ends the process by the signal's default action.
extern "C" void on_named_read_signal(int signal_number) {
  if (g_temporary_name[0] != '\0') unlinkat(g_temporary_folder, g_temporary_name, 0);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

/// Makes the handled signals remove this file's temporary.
void install_signal_handlers() {
  for (int s : kHandledSignals) signal(s, on_named_read_signal);
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

// --- Reading a named archive ---------------------------------------------------------------

/// A named archive found at the end of a file in memory.
struct NamedView {
  NamedArchiveTrailer trailer;
  const uint8_t* entries = nullptr;
  const uint8_t* table = nullptr;
  bool intact = false;  ///< its checksum matches and every record has its entry
};

/// Why a trailer cannot be used.
const char* trailer_problem(NamedTrailerStatus status) {
  switch (status) {
    case NamedTrailerStatus::bad_check:
      return "the archive's trailer is damaged (its checksum does not match)";
    case NamedTrailerStatus::bad_version:
      return "the archive has a format version this jcpack does not know";
    case NamedTrailerStatus::bad_sizes:
      return "the archive's trailer is damaged (its parts do not fit in the file)";
    case NamedTrailerStatus::bad_count:
      return "the archive's trailer is damaged (its entry count does not fit its sizes)";
    default:
      return "not a self-extractor";
  }
}

/// Finds the named archive at the end of `file`. False after a message when its trailer is
/// damaged; a damaged rest is reported and leaves `intact` false.
bool open_named(const std::string& shown, const Bytes& file, NamedView* v) {
  const size_t tail = std::min(file.size(), kNamedArchiveTrailerSize);
  const NamedTrailerStatus status =
      named_archive_read_trailer(file.data() + file.size() - tail, tail, file.size(), &v->trailer);
  if (status != NamedTrailerStatus::valid) return fail(shown + ": " + trailer_problem(status));
  const NamedArchiveTrailer& t = v->trailer;
  v->entries = file.data() + t.entries_offset;
  v->table = file.data() + t.table_offset;
  if (!named_archive_digest_matches(t, v->entries, size_t(t.entries_size + t.table_size))) {
    failure(shown + ": damaged: the entries and names do not match the archive's checksum");
    return true;
  }
  if (!named_archive_entries_match(v->entries, size_t(t.entries_size), v->table,
                                   size_t(t.table_size), t.entry_count)) {
    failure(shown + ": damaged: the entries and the table of names do not pair up");
    return true;
  }
  v->intact = true;
  return true;
}

/// Unpacks `entry` into `out`, allocating its unpacked size only once its data are known to
/// make that many bytes. nullptr on success, otherwise the reason.
const char* unpack_entry(const PackEntryView& entry, Bytes* out) {
  const PackEntryHeader& h = entry.header;
  if (!pack_entry_is_stored(h)) {
    JcBlock block;
    if (!jc_read_header(entry.data, h.stored_size, &block))
      return jc_status_text(JcStatus::bad_magic);
    if (block.unpacked_size != h.unpacked_size) return jc_status_text(JcStatus::size_mismatch);
    const JcStatus proof = jc_stream_reaches(entry.data, h.stored_size, h.unpacked_size);
    if (proof != JcStatus::ok) return jc_status_text(proof);
  }
  try {
    out->assign(h.unpacked_size, 0);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  const JcStatus status = pack_entry_unpack(entry, out->data(), out->size());
  return status == JcStatus::ok ? nullptr : jc_status_text(status);
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

/// One record and its entry, walked in step.
struct NamedStep {
  NamedArchiveRecord record;
  PackEntryView entry;
};

/// Walks the records of `v` with their entries, calling `visit(index, step)` (index from 1)
/// for each. False, after a message, when the table or the entries end out of step.
template <typename Visit>
bool walk_named(const std::string& shown, const NamedView& v, Visit visit) {
  const NamedArchiveTrailer& t = v.trailer;
  NamedTableWalk names = named_archive_table_start(v.table, size_t(t.table_size), t.entry_count);
  PackWalk entries = pack_walk_start(v.entries, size_t(t.entries_size));
  for (size_t index = 1;; ++index) {
    NamedStep step;
    const NamedTableStep name_step = named_archive_next_name(names, &step.record);
    if (name_step == NamedTableStep::malformed) {
      return fail(shown + ": the table of names is malformed at record " + std::to_string(index));
    }
    const PackWalkStep entry_step = pack_walk_next(entries, &step.entry);
    if (name_step == NamedTableStep::end && entry_step == PackWalkStep::end) return true;
    if (name_step == NamedTableStep::end || entry_step != PackWalkStep::entry) {
      return fail(shown + ": the entries and the table of names do not pair up at entry " +
                  std::to_string(index));
    }
    visit(index, step);
  }
}

/// The record's path as text.
std::string record_path(const NamedArchiveRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.path), r.path_size);
}

// --- Writing entries into a folder ---------------------------------------------------------

/// The parts of a safe entry path.
std::vector<std::string> path_parts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != kEntryNameSeparator) continue;
    parts.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

/// Opens the folder `part` in the folder `parent` without following a link, making it first
/// when it is missing and `create` is set. Its descriptor, or -1 with the reason in `error`.
int open_child_folder(int parent, const std::string& part, bool create, std::string* error) {
  int fd = openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create) {
    if (mkdirat(parent, part.c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
      *error =
          std::string("cannot make the folder '") + printable(part) + "': " + std::strerror(errno);
      return -1;
    }
    fd = openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    const bool in_the_way = errno == ELOOP || errno == ENOTDIR;
    *error = "'" + printable(part) + "' " +
             (in_the_way
                  ? std::string("is a link or a file, not a folder; nothing is written through it")
                  : std::string("cannot be opened: ") + std::strerror(errno));
  }
  return fd;
}

/// Opens the folder that holds the last of `parts` (the first `count` parts below `root`),
/// making the missing ones when `create` is set. Its descriptor, or -1 with `error` set.
int open_parent(int root, const std::vector<std::string>& parts, size_t count, bool create,
                std::string* error) {
  int fd = dup(root);
  if (fd < 0) *error = std::strerror(errno);
  for (size_t i = 0; fd >= 0 && i < count; ++i) {
    const int next = open_child_folder(fd, parts[i], create, error);
    close(fd);
    fd = next;
  }
  return fd;
}

/// Writes `data` as the file `name` in the folder `parent`: to a new temporary beside it,
/// with `mode` and the modification time `mtime`, renamed over `name` when complete. An
/// existing `name` that is not a regular file is left as it is. False with `error` set.
bool write_entry_file(int parent, const std::string& name, const Bytes& data, mode_t mode,
                      int64_t mtime, std::string* error) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    *error = S_ISLNK(st.st_mode) ? "a symbolic link is in the way; left as it is"
             : S_ISDIR(st.st_mode)
                 ? "a folder is in the way; left as it is"
                 : "something other than a regular file is in the way; left as it is";
    return false;
  }
  const int fd = create_temporary(parent);
  if (fd < 0) {
    *error = std::string("cannot create a new file beside it: ") + std::strerror(errno);
    return false;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtime), 0}};
  bool ok =
      write_all(fd, data.data(), data.size()) && fchmod(fd, mode) == 0 && futimens(fd, times) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename_temporary(name.c_str());
  if (!ok) {
    *error = std::string("cannot write: ") + std::strerror(errno);
    remove_temporary();
  }
  return ok;
}

/// Writes one record's entry below the folder `root`: its folder, or its file unpacked.
/// False after a message.
bool unpack_one(const std::string& shown, int root, size_t index, const NamedStep& step,
                Bytes* data) {
  const std::string path = record_path(step.record);
  const std::vector<std::string> parts = path_parts(path);
  const bool folder = (step.record.flags & kNamedEntryDirectory) != 0;
  const std::string place =
      shown + ": entry " + std::to_string(index) + " '" + printable(path) + "': ";
  std::string error;
  if (!folder) {
    const char* reason = unpack_entry(step.entry, data);
    if (reason != nullptr) return fail(place + reason);
  }
  const int parent = open_parent(root, parts, parts.size() - 1, true, &error);
  if (parent < 0) return fail(place + error);
  bool ok;
  if (folder) {
    const int fd = open_child_folder(parent, parts.back(), true, &error);
    ok = fd >= 0;
    if (ok) close(fd);
  } else {
    const bool executable = (step.record.flags & kNamedEntryExecutable) != 0;
    const mode_t mode = (executable ? kExecutableMode : kPlainMode) & ~current_umask();
    ok = write_entry_file(parent, parts.back(), *data, mode, step.record.mtime, &error);
  }
  close(parent);
  if (!ok) failure(place + error);
  return ok;
}

/// Gives the folder `path` below `root` its modification time; a failure is only reported.
void set_folder_time(const std::string& shown, int root, const std::string& path, int64_t mtime) {
  const std::vector<std::string> parts = path_parts(path);
  std::string error;
  const int fd = open_parent(root, parts, parts.size(), false, &error);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtime), 0}};
  if (fd < 0 || futimens(fd, times) != 0) {
    warning(shown + ": '" + printable(path) + "': cannot set the folder's time");
  }
  if (fd >= 0) close(fd);
}

/// Checks every name of an intact archive: safe to extract and none twice. False after a
/// message for each one that is not.
bool names_are_extractable(const std::string& shown, const NamedView& v) {
  std::vector<std::string> paths;
  bool ok = true;
  const bool whole = walk_named(shown, v, [&](size_t index, const NamedStep& step) {
    const EntryNameProblem problem = entry_name_check(step.record.path, step.record.path_size);
    if (problem != EntryNameProblem::ok) {
      ok = fail(shown + ": entry " + std::to_string(index) + " '" +
                printable(step.record.path, step.record.path_size) + "': unsafe name (" +
                entry_name_problem_text(problem) + ")");
    }
    paths.push_back(record_path(step.record));
  });
  std::sort(paths.begin(), paths.end());
  for (size_t i = 1; i < paths.size(); ++i) {
    if (paths[i] == paths[i - 1]) {
      ok = fail(shown + ": the name '" + printable(paths[i]) + "' is there twice");
    }
  }
  return whole && ok;
}

}  // namespace

bool jcpack_has_named_trailer(const uint8_t* file, size_t size) {
  return ends_with_named_magic(file, size) && !walks_as_pack_archive(file, size);
}

int jcpack_named_list(const std::string& shown, const Bytes& file) {
  NamedView v;
  if (!open_named(shown, file, &v)) return kExitFailure;
  bool all_ok = v.intact;
  Bytes data;
  const bool whole = walk_named(shown, v, [&](size_t index, const NamedStep& step) {
    const NamedArchiveRecord& r = step.record;
    const bool folder = (r.flags & kNamedEntryDirectory) != 0;
    const EntryNameProblem problem = entry_name_check(r.path, r.path_size);
    const char* reason = problem != EntryNameProblem::ok ? entry_name_problem_text(problem)
                         : folder                        ? nullptr
                                                         : unpack_entry(step.entry, &data);
    const char* kind = folder                                    ? "folder"
                       : pack_entry_is_stored(step.entry.header) ? "stored"
                                                                 : "jc";
    std::printf("%zu %u %u %s %s %s %s %s\n", index, step.entry.header.unpacked_size,
                step.entry.header.stored_size, kind,
                (r.flags & kNamedEntryExecutable) != 0 ? "x" : "-", time_text(r.mtime).c_str(),
                reason != nullptr ? "failed" : "ok", printable(r.path, r.path_size).c_str());
    if (reason != nullptr) {
      all_ok = false;
      failure(shown + ": entry " + std::to_string(index) + " '" + printable(r.path, r.path_size) +
              "': " + reason);
    }
  });
  return whole && all_ok ? kExitOk : kExitFailure;
}

int jcpack_named_unpack(const std::string& shown, const Bytes& file, const std::string& dir) {
  NamedView v;
  if (!open_named(shown, file, &v)) return kExitFailure;
  if (!v.intact || !names_are_extractable(shown, v)) {
    return failure(shown + ": nothing unpacked");
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return failure(dir + ": cannot create the folder: " + ec.message());
  const int root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return failure(system_error(dir, "cannot open the folder"));
  install_signal_handlers();
  bool all_ok = true;
  Bytes data;
  std::vector<std::pair<std::string, int64_t>> folders;
  try {
    walk_named(shown, v, [&](size_t index, const NamedStep& step) {
      if (!unpack_one(shown, root, index, step, &data)) {
        all_ok = false;
      } else if ((step.record.flags & kNamedEntryDirectory) != 0) {
        folders.emplace_back(record_path(step.record), step.record.mtime);
      }
    });
  } catch (...) {
    remove_temporary();
    close(root);
    throw;
  }
  // Last, as writing into a folder changes its time.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    set_folder_time(shown, root, it->first, it->second);
  }
  close(root);
  return all_ok ? kExitOk : kExitFailure;
}
