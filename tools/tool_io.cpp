#include "tools/tool_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "jc/jc.h"
#include "jc/jc_entry.h"
#include "jc/jc_stream_count.h"
#include "pack/named_archive.h"
#include "tools/signal_block.h"

namespace {

constexpr size_t kReadChunk = 1 << 16;  ///< bytes made room for at a time
constexpr uint64_t kMebibyte = uint64_t(1) << 20;
constexpr mode_t kTemporaryMode = 0600;          ///< while a file is being written
constexpr size_t kTemporaryNameCapacity = 64;    ///< ".jcpack-PID-N" and its zero
constexpr unsigned kTemporaryAttempts = 1000;    ///< names tried before giving up
constexpr uint64_t kProgressMinSize = 16 << 20;  ///< inputs that show their progress
constexpr size_t kProgressNameWidth = 50;        ///< characters of a name on the line

/// The temporary file being written: its folder's handle and its name there, removed by
/// temporary_remove() and by the signal handler; the name is empty when there is none.
/// Changed only with the handled signals blocked.
int g_temporary_folder = -1;
char g_temporary_name[kTemporaryNameCapacity];

Verbosity g_verbosity = Verbosity::normal;

/// Removes the temporary and ends the process by the signal's default action.
extern "C" void on_signal(int signal_number) {
  if (g_temporary_name[0] != '\0') unlinkat(g_temporary_folder, g_temporary_name, 0);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

int failure(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s\n", message.c_str());
  return kExitFailure;
}

bool fail(const std::string& message) {
  failure(message);
  return false;
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s (jcpack --help shows the usage)\n", message.c_str());
  return kExitUsage;
}

void set_verbosity(Verbosity verbosity) {
  g_verbosity = verbosity;
}

Verbosity verbosity() {
  return g_verbosity;
}

void warning(const std::string& message) {
  if (g_verbosity != Verbosity::quiet)
    std::fprintf(stderr, "jcpack: warning: %s\n", message.c_str());
}

void note(const std::string& message) {
  if (g_verbosity == Verbosity::verbose) std::fprintf(stderr, "jcpack: %s\n", message.c_str());
}

std::string count_text(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string exists_text(const std::string& name) {
  return name + " exists; use -f to replace it";
}

std::string system_error(const std::string& name, const char* what) {
  return name + ": " + what + ": " + std::strerror(errno);
}

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

std::string out_of_memory_text(const std::string& name, uint64_t size, int level) {
  const uint64_t need = jc_encode_memory(size_t(size), level) + 2 * size;
  return name + ": out of memory: level " + std::to_string(level) + " needs about " +
         std::to_string((need + kMebibyte - 1) / kMebibyte) + " MiB for " + std::to_string(size) +
         " bytes of input";
}

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

bool read_all(int fd, uint64_t limit, uint64_t expected, std::vector<uint8_t>* out,
              bool* too_large) {
  *too_large = false;
  // One byte beyond what is expected, so that the end shows without another round.
  out->resize(size_t(std::min(expected, limit)) + 1);
  size_t size = 0;
  for (;;) {
    if (out->size() - size < kReadChunk) out->resize(size + kReadChunk);
    const ssize_t n = read_full(fd, out->data() + size, out->size() - size);
    if (n < 0) return false;
    size += size_t(n);
    if (size > limit) {
      *too_large = true;
      break;
    }
    if (size < out->size()) break;
  }
  out->resize(size);
  return true;
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

/// Whether the last bytes of the `size` bytes at `file` start with a named trailer's magic.
bool ends_with_named_magic(const uint8_t* file, size_t size) {
  return size >= kNamedArchiveTrailerSize &&
         std::memcmp(file + size - kNamedArchiveTrailerSize, kNamedArchiveMagic,
                     sizeof kNamedArchiveMagic) == 0;
}

const char* unpack_entry(const PackEntryView& entry, std::vector<uint8_t>* out) {
  const PackEntryHeader& h = entry.header;
  if (!pack_entry_is_stored(h)) {
    JcBlock block;
    if (!jc_read_header(entry.data, h.stored_size, &block)) {
      return jc_status_text(JcStatus::bad_magic);
    }
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

bool parse_level(const std::string& text, int* level) {
  if (text.size() != 1 || text[0] < '0' + kJcMinLevel || text[0] > '0' + kJcMaxLevel) {
    return false;
  }
  *level = text[0] - '0';
  return true;
}

void install_signal_handlers() {
  for (int s : kHandledSignals) signal(s, on_signal);
  signal(SIGXFSZ, SIG_IGN);
}

int temporary_create(int folder) {
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

bool temporary_rename(const char* name, bool replace) {
  SignalBlock block;
  if (replace) {
    if (renameat(g_temporary_folder, g_temporary_name, g_temporary_folder, name) != 0) {
      return false;
    }
  } else if (renameat2(g_temporary_folder, g_temporary_name, g_temporary_folder, name,
                       RENAME_NOREPLACE) != 0) {
    // A file system without the flag: a new link fails just the same on an existing name.
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (linkat(g_temporary_folder, g_temporary_name, g_temporary_folder, name, 0) != 0) {
      return false;
    }
    unlinkat(g_temporary_folder, g_temporary_name, 0);
  }
  g_temporary_name[0] = '\0';
  return true;
}

void temporary_remove() {
  SignalBlock block;
  if (g_temporary_name[0] != '\0') unlinkat(g_temporary_folder, g_temporary_name, 0);
  g_temporary_name[0] = '\0';
}

ProgressLine::ProgressLine(uint64_t total)
    : total_(total),
      shown_(total >= kProgressMinSize && isatty(STDERR_FILENO) == 1 &&
             g_verbosity != Verbosity::quiet) {}

void ProgressLine::begin(const std::string& name, uint64_t done) {
  before_ = done;
  if (!shown_) return;
  name_ = printable(name);
  if (name_.size() > kProgressNameWidth) {
    name_ = "..." + name_.substr(name_.size() - kProgressNameWidth);
  }
  percent_ = -1;
  draw(done);
}

JcProgress ProgressLine::callback() const {
  return shown_ ? &ProgressLine::report : nullptr;
}

void ProgressLine::clear() {
  if (percent_ >= 0) std::fputs("\r\033[K", stderr);
  percent_ = -1;
}

void ProgressLine::report(void* context, uint64_t done, uint64_t /*input_size*/) {
  ProgressLine& line = *static_cast<ProgressLine*>(context);
  line.draw(line.before_ + done);
}

void ProgressLine::draw(uint64_t done) {
  const int percent = total_ == 0 ? 100 : int(done * 100 / total_);
  if (percent == percent_) return;
  percent_ = percent;
  std::fprintf(stderr, "\rjcpack: %s: %d%% of %llu MB\033[K", name_.c_str(), percent,
               static_cast<unsigned long long>((total_ + 500000) / 1000000));
  std::fflush(stderr);
}
