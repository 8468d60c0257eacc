#include "tools/sfx_write.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "jc/jc_entry.h"
#include "pack/archive_digest.h"
#include "pack/named_archive.h"
#include "tools/sfx_blocks.h"
#include "tools/tool_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kCopyChunk = 1 << 16;    ///< bytes of the stub read at a time
constexpr mode_t kExecutableMode = 0777;  ///< OUT's mode before the umask

// How a stub is known for a program: an ELF file starts with kElfMagic; a Windows program
// starts with kWindowsProgramMagic and keeps at kPeHeaderOffsetField the 32-bit offset of
// its PE header, which starts with kPeSignature.
constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kWindowsProgramMagic[2] = {'M', 'Z'};
constexpr uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
constexpr size_t kPeHeaderOffsetField = 0x3C;

/// What kind of program a stub is.
enum class ProgramKind { none, elf, windows };

/// The kind of program the file `fd` of `size` bytes is, by its headers.
ProgramKind program_kind(int fd, uint64_t size) {
  uint8_t head[kPeHeaderOffsetField + 4];
  const ssize_t got = pread(fd, head, sizeof head, 0);
  if (got >= ssize_t(sizeof kElfMagic) && std::memcmp(head, kElfMagic, sizeof kElfMagic) == 0) {
    return ProgramKind::elf;
  }
  if (got != ssize_t(sizeof head) ||
      std::memcmp(head, kWindowsProgramMagic, sizeof kWindowsProgramMagic) != 0) {
    return ProgramKind::none;
  }
  uint32_t offset = 0;
  for (size_t i = 0; i < 4; ++i) offset |= uint32_t(head[kPeHeaderOffsetField + i]) << (8 * i);
  uint8_t signature[sizeof kPeSignature];
  const bool pe =
      uint64_t(offset) + sizeof signature <= size &&
      pread(fd, signature, sizeof signature, off_t(offset)) == ssize_t(sizeof signature) &&
      std::memcmp(signature, kPeSignature, sizeof signature) == 0;
  return pe ? ProgramKind::windows : ProgramKind::none;
}

/// Appends `size` bytes to the temporary. False, with errno set, when a write fails.
bool output_append(Output* o, const uint8_t* data, size_t size) {
  if (!write_all(o->fd, data, size)) return false;
  o->size += size;
  return true;
}

/// The writer's sink: the temporary, the Output `context`.
bool output_sink(void* context, const uint8_t* data, size_t size) {
  return output_append(static_cast<Output*>(context), data, size);
}

/// Appends `size` bytes to the temporary. False after a message.
bool output_write(Output* o, const uint8_t* data, size_t size) {
  return output_append(o, data, size) || fail(system_error(o->shown, "cannot write"));
}

/// Why the writer stopped, after `what` failed: a write error, or a refusal.
bool writer_failure(const Output& o, const std::string& what) {
  if (o.writer.status == NamedWriterStatus::sink_failed) {
    return fail(system_error(o.shown, "cannot write"));
  }
  return fail(what + ": refused by the archive writer (" +
              named_writer_status_text(o.writer.status) + ")");
}

/// Passes the setting `tag` with the value `text` to the writer. False after a message.
bool write_setting(uint16_t tag, const std::string& text, Output* o) {
  return named_archive_writer_setting(&o->writer, tag,
                                      reinterpret_cast<const uint8_t*>(text.data()), text.size()) ||
         writer_failure(*o, o->shown);
}

/// Passes the language and each other setting that is given to the writer. False after a
/// message.
bool write_settings(const SfxSettings& settings, Output* o) {
  return (settings.title.empty() || write_setting(kNamedSettingTitle, settings.title, o)) &&
         write_setting(kNamedSettingLanguage, settings.language, o) &&
         (settings.run.empty() || write_setting(kNamedSettingRun, settings.run, o)) &&
         (!settings.temp || write_setting(kNamedSettingTemp, "", o)) &&
         (settings.license.empty() || write_setting(kNamedSettingLicense, settings.license, o));
}

/// Copies the stub to the start of the temporary. False after a message.
bool copy_stub(const Stub& stub, Output* o) {
  Bytes chunk(kCopyChunk);
  uint64_t copied = 0;
  for (;;) {
    const ssize_t n = read_full(stub.fd, chunk.data(), chunk.size());
    if (n < 0) return fail(system_error(stub.path, "cannot read the stub"));
    if (n == 0) break;
    if (!output_write(o, chunk.data(), size_t(n))) return false;
    copied += uint64_t(n);
  }
  if (copied != stub.size) return fail(stub.path + ": the stub changed while it was read");
  return true;
}

/// The content as the files give it: each file in the table's order, read as far as the size
/// it had when it was gathered. A file that changed size meanwhile ends the command.
class ContentReader {
 public:
  explicit ContentReader(const Gathered& g) : g_(g) {}
  ~ContentReader() { close_file(); }

  /// Checks the empty files after the last byte; false after a message.
  bool finish() { return settle_empty_files(); }

  /// Fills `out` with the next `size` bytes. False after a message.
  bool read(uint8_t* out, size_t size) {
    while (size > 0) {
      if (fd_ < 0 && !open_next()) return false;
      const uint64_t left = g_.items[index_].size - taken_;
      const size_t step = size_t(std::min<uint64_t>(left, size));
      const ssize_t got = read_full(fd_, out, step);
      if (got < 0) return fail(system_error(shown(), "cannot read"));
      if (size_t(got) != step) return fail(shown() + ": changed while it was read (shorter now)");
      out += step;
      size -= step;
      taken_ += step;
      if (taken_ == g_.items[index_].size && !finish_file()) return false;
    }
    return true;
  }

 private:
  std::string shown() const { return printable(g_.items[index_].source); }

  /// Opens the file of the item at index_; false after a message.
  bool open_file() {
    const SourceItem& item = g_.items[index_];
    fd_ = open(item.source.c_str(),
               O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (item.follow ? 0 : O_NOFOLLOW));
    if (fd_ < 0) return fail(system_error(shown(), "cannot read"));
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      return fail(shown() + ": no longer a regular file");
    }
    taken_ = 0;
    return true;
  }

  /// Passes the folders up to the next file with bytes, and checks that each file on the way
  /// is still empty (and can be read). False after a message.
  bool settle_empty_files() {
    while (index_ < g_.items.size() && (g_.items[index_].folder || g_.items[index_].size == 0)) {
      if (g_.items[index_].folder) {
        ++index_;
      } else if (!open_file() || !finish_file()) {
        return false;
      }
    }
    return true;
  }

  /// Opens the next file that has bytes.
  bool open_next() {
    if (!settle_empty_files()) return false;
    if (index_ == g_.items.size()) return fail("the files hold fewer bytes than gathered");
    return open_file();
  }

  /// Checks that the file ends where it was gathered to end, and closes it.
  bool finish_file() {
    uint8_t extra = 0;
    const ssize_t more = read_full(fd_, &extra, 1);
    const std::string name = shown();
    if (more < 0) return fail(system_error(name, "cannot read"));
    close_file();
    ++index_;
    if (more != 0) return fail(name + ": changed while it was read (longer now)");
    return true;
  }

  void close_file() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  const Gathered& g_;
  size_t index_ = 0;
  int fd_ = -1;
  uint64_t taken_ = 0;
};

/// The name of the file that holds content byte `offset` (for the progress line).
std::string name_at(const Gathered& g, uint64_t offset) {
  uint64_t start = 0;
  for (const SourceItem& item : g.items) {
    if (offset < start + item.size) return item.name;
    start += item.size;
  }
  return g.items.empty() ? std::string() : g.items.back().name;
}

/// Writes every block of the content, then notes every item's record. False after a message.
bool write_content(const SfxSettings& settings, const Gathered& g, Output* o) {
  ContentReader reader(g);
  ProgressLine progress(g.file_bytes);
  progress.begin(name_at(g, 0), 0);
  const bool written = compress_content(
      g.file_bytes, settings.chunk, settings.level, settings.threads,
      [&](uint8_t* out, size_t size) { return reader.read(out, size); },
      [&](const Bytes& entry, uint64_t done) {
        if (!named_archive_writer_block(&o->writer, entry.data(), entry.size())) {
          return writer_failure(*o, o->shown);
        }
        progress.begin(name_at(g, done), done);
        return true;
      });
  if (!written || !reader.finish()) return false;
  for (const SourceItem& item : g.items) {
    uint8_t flags = item.folder ? kNamedEntryDirectory : 0;
    if (item.executable) flags |= kNamedEntryExecutable;
    const NamedArchiveItem named{item.name, item.mtime, flags, item.folder ? 0 : item.size};
    if (!named_archive_writer_item(&o->writer, named)) {
      return writer_failure(*o, printable(item.source));
    }
    note("added " + printable(item.name) +
         (item.folder ? " (folder)" : " (" + std::to_string(item.size) + " bytes)"));
  }
  return true;
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
  bool ok =
      named_archive_read_trailer(file + o.size - tail, tail, o.size, &t) ==
          NamedTrailerStatus::valid &&
      t.entry_count == count &&
      named_archive_digest_matches(t, file + t.entries_offset,
                                   size_t(t.entries_size + t.table_size)) &&
      named_archive_entries_match(file + t.entries_offset, size_t(t.entries_size),
                                  file + t.table_offset, size_t(t.table_size), count, t.version);
  munmap(map, size_t(o.size));
  if (!ok) failure(o.shown + ": the written archive does not read back as written");
  return ok;
}

}  // namespace

bool open_stub(const std::string& path, Stub* stub) {
  stub->path = path;
  stub->fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (stub->fd < 0) return fail(system_error(path, "cannot read the stub"));
  struct stat st;
  if (fstat(stub->fd, &st) != 0) return fail(system_error(path, "cannot read the stub"));
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    return fail(path + ": the stub is not a program (not a regular file, or empty)");
  }
  stub->size = uint64_t(st.st_size);
  stub->device = st.st_dev;
  stub->inode = st.st_ino;
  const ProgramKind kind = program_kind(stub->fd, stub->size);
  if (kind == ProgramKind::none) {
    return fail(path + ": the stub is not a program (neither an ELF file nor a Windows program)");
  }
  stub->windows = kind == ProgramKind::windows;
  uint8_t tail[kNamedArchiveTrailerSize];
  if (stub->size >= sizeof tail &&
      pread(stub->fd, tail, sizeof tail, off_t(stub->size - sizeof tail)) == ssize_t(sizeof tail) &&
      ends_with_named_magic(tail, sizeof tail)) {
    warning(path + ": the stub carries an archive already; the new one is put behind it");
  }
  return true;
}

bool prepare_output(const std::string& out, bool replace, const Stub& stub, Output* o,
                    Gathered* g) {
  o->shown = out;
  o->replace = replace;
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
  if (S_ISREG(st.st_mode) && st.st_dev == stub.device && st.st_ino == stub.inode) {
    return fail(out + ": is the stub; a self-extractor is not written over the stub it reads");
  }
  if (!replace) return fail(exists_text(out));
  if (S_ISREG(st.st_mode)) {
    g->output_exists = true;
    g->output_device = st.st_dev;
    g->output_inode = st.st_ino;
  }
  return true;
}

bool write_self_extractor(const SfxSettings& settings, const Stub& stub, const Gathered& g,
                          Output* o) {
  o->fd = temporary_create(o->folder);
  if (o->fd < 0) return fail(system_error(o->shown, "cannot create a temporary file beside it"));
  named_archive_writer_start(&o->writer, output_sink, o);
  bool ok = write_settings(settings, o) && copy_stub(stub, o) && write_content(settings, g, o);
  ok = ok && (named_archive_writer_finish(&o->writer) || writer_failure(*o, o->shown)) &&
       output_reads_back(*o, uint32_t(g.items.size()));
  if (ok && (fchmod(o->fd, kExecutableMode & ~current_umask()) != 0 || fsync(o->fd) != 0)) {
    ok = fail(system_error(o->shown, "cannot write"));
  }
  ok = close(o->fd) == 0 && ok;
  o->fd = -1;
  if (ok && !temporary_rename(o->name.c_str(), o->replace)) {
    ok = fail(!o->replace && errno == EEXIST ? exists_text(o->shown)
                                             : system_error(o->shown, "cannot write"));
  }
  if (!ok) temporary_remove();
  return ok;
}

void close_stub_and_output(Stub* stub, Output* o) {
  if (stub->fd >= 0) close(stub->fd);
  if (o->folder >= 0) close(o->folder);
  stub->fd = -1;
  o->folder = -1;
}
