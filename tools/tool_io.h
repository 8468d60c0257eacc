// What jcpack's commands share: their messages, reading and writing through descriptors,
// unpacking one pack entry, the one temporary file being written and the signals that remove
// it, and the progress line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jc/jc_encode.h"
#include "jc/pack_format.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  ///< bad data or a file that cannot be read or written
inline constexpr int kExitUsage = 2;

/// How much jcpack says beside its results and its errors.
enum class Verbosity : uint8_t {
  quiet,    ///< errors only: no warnings, no progress line
  normal,   ///< warnings and, on a terminal, the progress line
  verbose,  ///< also what is done: each file and the totals
};

/// Sets how much the messages below say; normal until set.
void set_verbosity(Verbosity verbosity);

/// The verbosity set last.
Verbosity verbosity();

// --- Messages, each one line on standard error ---------------------------------------------

/// "jcpack: MESSAGE"; kExitFailure.
int failure(const std::string& message);

/// failure(), for the functions that return whether they succeeded; false.
bool fail(const std::string& message);

/// A usage mistake, with a pointer to the usage; kExitUsage.
int usage_error(const std::string& message);

/// A note that does not change the exit code; left out when quiet.
void warning(const std::string& message);

/// "jcpack: MESSAGE", what is being done, only when verbose.
void note(const std::string& message);

/// "1 entry", "2 entries": `n` and the word for one or for many.
std::string count_text(uint64_t n, const char* one, const char* many);

/// "OUT exists; use -f to replace it", the message for an output that is not replaced.
std::string exists_text(const std::string& name);

/// "NAME: WHAT: the reason of errno".
std::string system_error(const std::string& name, const char* what);

/// `size` bytes of a name as text for a message, each control byte shown as `?`.
std::string printable(const uint8_t* bytes, size_t size);
std::string printable(const std::string& name);

/// "NAME: out of memory: level L needs about N MiB for S bytes of input": what encoding
/// `size` bytes at `level` needs (the encoder, the input and the decoded copy it is checked
/// against).
std::string out_of_memory_text(const std::string& name, uint64_t size, int level);

// --- Reading and writing -------------------------------------------------------------------

/// Writes `size` bytes to `fd`. False, with errno set, when a write fails.
bool write_all(int fd, const uint8_t* data, size_t size);

/// Reads up to `size` bytes from `fd` into `data`; the count read (less only at the end), or
/// -1 with errno set.
ssize_t read_full(int fd, uint8_t* data, size_t size);

/// Reads everything from `fd` into `out`, which is made room for `expected` bytes first (a
/// regular file's size; 0 when unknown). False, with errno set, when a read fails;
/// `too_large` set, and the reading stopped, when more than `limit` bytes come.
bool read_all(int fd, uint64_t limit, uint64_t expected, std::vector<uint8_t>* out,
              bool* too_large);

/// The process's umask, left as it is.
mode_t current_umask();

/// Unpacks `entry` into `out`, allocating its unpacked size only once its data are known to
/// make that many bytes. nullptr on success, otherwise the reason ("checksum mismatch").
const char* unpack_entry(const PackEntryView& entry, std::vector<uint8_t>* out);

/// Whether the last bytes of the `size` bytes at `file` start with a named trailer's magic.
bool ends_with_named_magic(const uint8_t* file, size_t size);

/// Parses a level digit, kJcMinLevel to kJcMaxLevel.
bool parse_level(const std::string& text, int* level);

// --- The temporary file --------------------------------------------------------------------
//
// An output is written to a temporary file created exclusively beside it and renamed over it
// once complete. The one temporary of the moment is registered, so that a failure, an
// exception that reaches main, or one of the handled signals (signal_block.h) removes it and
// no partial file is left behind.

/// Makes the handled signals remove the temporary and then end the process as they would;
/// an oversized write then fails with EFBIG instead of ending the process.
void install_signal_handlers();

/// Creates a new, empty temporary file in the folder `folder` (exclusively, never through a
/// link) and registers it; `folder` must stay open until it is renamed or removed. Its
/// descriptor, or -1 with errno set.
int temporary_create(int folder);

/// Renames the temporary to `name` in its folder, over a file of that name only when
/// `replace` is set (otherwise an existing name fails with EEXIST, also one that appeared
/// while the temporary was being written). False, with errno set and the temporary still
/// registered, on failure.
bool temporary_rename(const char* name, bool replace);

/// Removes the temporary file, if there is one.
void temporary_remove();

// --- The progress line ---------------------------------------------------------------------

/// The progress of encoding, shown on standard error as a line rewritten in place
/// ("jcpack: NAME: P% of N MB") when standard error is a terminal, the input is large and
/// jcpack is not quiet;
/// cleared when done. One line serves several inputs in a row.
class ProgressLine {
 public:
  /// For `total` bytes of input in all.
  explicit ProgressLine(uint64_t total);
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  /// Starts the input `name`, which follows `done` bytes of the total already encoded.
  void begin(const std::string& name, uint64_t done);

  /// The callback for the encoder, with this line as its context; null when nothing is shown.
  JcProgress callback() const;

  /// Removes the line from the terminal.
  void clear();

 private:
  static void report(void* context, uint64_t done, uint64_t total);
  void draw(uint64_t done);

  std::string name_;
  uint64_t total_;
  uint64_t before_ = 0;  ///< bytes of the inputs before the current one
  bool shown_;
  int percent_ = -1;  ///< the percentage on the line, -1 when no line is shown
};
