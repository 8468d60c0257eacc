// Console services on POSIX. The console is a memory console (the screen model) painted
// onto the terminal with cursor-addressing escape sequences after every change; typed
// bytes are decoded into key records. Standard streams that are not terminals get plain
// bytes (output) and give one key per byte (input). A memory console installed by a test
// is served before any of it (platform/console_common.cpp); the screen model is then not
// painted.
//
// Once a write to standard output fails (its reader has gone, the terminal is lost),
// nothing more is written there and the program goes on. Ctrl+Z gives the terminal back
// as it was found while the program is stopped; when it is continued, its modes are taken
// again and the whole screen is repainted from the model.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/console_backend.h"
#include "platform/memory_console.h"
#include "platform/posix/terminal_codec.h"
#include "platform/process.h"
#include "platform/redirected_input.h"

namespace {

constexpr int kOutputFd = STDOUT_FILENO;
constexpr int kInputFd = STDIN_FILENO;
constexpr int16_t kFallbackColumns = 80;
constexpr int16_t kFallbackRows = 25;
constexpr int kCursorReportTimeoutMs = 300;
constexpr int kEscapeSequenceTimeoutMs = 30;
/// Typed bytes held before they are decoded: more than a terminal's input buffer, so that
/// whatever arrives at once is taken in one read.
constexpr size_t kPendingCapacity = 4096;
/// Decoded keys waiting to be read; decoding stops while they fill the ring.
constexpr uint32_t kKeyRingCapacity = 256;
/// Terminal output gathered before it is written.
constexpr size_t kOutputBufferSize = 4096;
/// "ESC [ row ; column H" with coordinates of up to 5 digits, and its terminating 0.
constexpr size_t kCursorSequenceSize = 16;
/// Bytes from the controlling terminal kept while its cursor report is awaited.
constexpr size_t kCursorReplyCapacity = 256;
/// The longest tail of unread bytes that can still be the start of a cursor report.
constexpr size_t kCursorReportLongest = 32;
static_assert(kCursorReplyCapacity > kCursorReportLongest);
/// Row and column values of a cursor report are held to this.
constexpr int kCursorReportValueLimit = 32767;
/// How long one read of the cursor report waits.
constexpr int kCursorReportStepMs = 10;
constexpr uint32_t kLargeCursorPercent = 50;
constexpr int kWaitForever = -1;
/// How long a look at the input queue sleeps when nothing is waiting: short enough that a
/// key or a continued program is handled at once, long enough that a waiting loop rests.
constexpr int kInputWaitMs = 50;

struct PosixConsole {
  MemoryConsole* screen;   // the model painted onto the terminal, once opened
  bool input_is_terminal;  // raw mode taken on standard input
  bool input_checked;
  termios saved_modes;
  bool modes_saved;
  bool cursor_shape_changed;
  bool cleanup_registered;
  RedirectedInput redirected;  // keys of a standard input that is not a terminal
};

PosixConsole posix_console{nullptr, false, false, {}, false, false, false, {}};

// The typed bytes and keys live apart from posix_console: zero at start, they take no room
// in the program's file.

/// Typed bytes not yet decoded.
struct PendingBytes {
  char bytes[kPendingCapacity];
  size_t length;
};
PendingBytes pending;

/// Decoded keys waiting, `count` of them from index `first` on.
struct KeyRing {
  ConsoleInputRecord records[kKeyRingCapacity];
  uint32_t first;
  uint32_t count;
};
KeyRing keys;

/// The model painted onto the terminal; posix_console.screen points here once it is open.
MemoryConsole terminal_screen;

/// What the stop handler shares with the program's thread.
struct StopState {
  volatile sig_atomic_t output_failed;  // a write to standard output failed: no more writes
  volatile sig_atomic_t raw_input;      // raw_modes are in force on standard input
  volatile sig_atomic_t writing;        // the program's thread is in the middle of a write
  volatile sig_atomic_t stop_deferred;  // a stop came meanwhile: taken when the write is done
  volatile sig_atomic_t continued;      // continued after a stop: the screen needs repainting
  volatile sig_atomic_t released;       // the terminal has been given back for good
};

StopState stop_state;
termios raw_modes;  // the input modes the program works in

void repaint_if_continued();

// Handles of the standard streams when they are not terminals, and of typed input.
char stream_output_marker;
char stream_input_marker;
char terminal_input_marker;

ConsoleHandle stream_output() {
  return &stream_output_marker;
}
ConsoleHandle stream_input() {
  return &stream_input_marker;
}
ConsoleHandle terminal_input() {
  return &terminal_input_marker;
}

// ---- terminal output --------------------------------------------------------------

/// Writes `bytes` whole to standard output, until a write fails; from then on nothing is
/// written there (only async-signal-safe calls: the stop handler writes through this too).
void write_output(const char* bytes, size_t length) {
  while (length > 0 && !stop_state.output_failed) {
    const ssize_t n = ::write(kOutputFd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {  // an output set non-blocking
      pollfd p{kOutputFd, POLLOUT, 0};
      ::poll(&p, 1, kWaitForever);
      continue;
    }
    if (n <= 0) {
      stop_state.output_failed = 1;
      return;
    }
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

/// Begins a piece of terminal output: the screen is repainted first when the program was
/// continued after a stop, and a stop that comes from now on waits until end_output.
void begin_output() {
  repaint_if_continued();
  stop_state.writing = 1;
}

/// Ends a piece of output begun by begin_output; a stop held back meanwhile is taken now.
void end_output() {
  stop_state.writing = 0;
  if (stop_state.stop_deferred) {
    stop_state.stop_deferred = 0;
    ::raise(SIGTSTP);
  }
}

/// Writes `length` bytes of `s` to the terminal; a stop that comes meanwhile waits until
/// they are written.
void emit(const char* s, size_t length) {
  begin_output();
  write_output(s, length);
  end_output();
}

/// Writes the 0-terminated `s` to the terminal, as emit does.
void emit(const char* s) {
  emit(s, std::strlen(s));
}

/// Output gathered in a fixed buffer and written out whenever the next piece would not
/// fit; used between begin_output and end_output, so that a stop never comes between two
/// pieces of one change.
struct OutputBuffer {
  char bytes[kOutputBufferSize];
  size_t length = 0;

  /// Adds the `size` bytes of `piece`, writing out what was gathered first when they would
  /// not fit (a piece larger than the whole buffer is written at once).
  void add(const char* piece, size_t size) {
    if (length + size > sizeof bytes) flush();
    if (size > sizeof bytes) {
      write_output(piece, size);
      return;
    }
    std::memcpy(bytes + length, piece, size);
    length += size;
  }
  /// Adds the 0-terminated `piece`.
  void add(const char* piece) { add(piece, std::strlen(piece)); }
  /// Writes out what was gathered.
  void flush() {
    write_output(bytes, length);
    length = 0;
  }
};

/// Writes the decimal digits of `value` (0 or more) into `out`; returns their number.
size_t put_decimal(char* out, int value) {
  char digits[kCursorSequenceSize];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < sizeof digits);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

/// Writes the sequence that moves the terminal's cursor to cell (x, y) into `out`
/// (kCursorSequenceSize bytes) with a terminating 0; returns its length.
size_t cursor_to(int x, int y, char* out) {
  size_t n = 0;
  out[n++] = '\x1b';
  out[n++] = '[';
  n += put_decimal(out + n, y + 1);
  out[n++] = ';';
  n += put_decimal(out + n, x + 1);
  out[n++] = 'H';
  out[n] = 0;
  return n;
}

/// Adds the move of the terminal's cursor to cell (x, y) to `out`.
void add_cursor_to(OutputBuffer* out, int x, int y) {
  char sequence[kCursorSequenceSize];
  out->add(sequence, cursor_to(x, y, sequence));
}

/// Paints `count` cells of the screen model from cell `first`, then puts the terminal's
/// cursor where the model's cursor stands.
void paint_cells(int64_t first, int64_t count) {
  MemoryConsole* screen = posix_console.screen;
  const int width = screen->info.size.x;
  begin_output();
  OutputBuffer out;
  int last_attribute = -1;
  for (int64_t i = first; i < first + count && i < static_cast<int64_t>(screen->cells.size());
       ++i) {
    const int x = static_cast<int>(i % width);
    const int y = static_cast<int>(i / width);
    if (i == first || x == 0) add_cursor_to(&out, x, y);
    const ConsoleCharInfo cell = screen->cells[static_cast<size_t>(i)];
    if (cell.attributes != last_attribute) {
      char colour[kTerminalColourSequenceSize];
      out.add(colour, terminal_colour_sequence(cell.attributes, kDefaultAttribute, colour));
      last_attribute = cell.attributes;
    }
    out.add(terminal_glyph(static_cast<uint8_t>(cell.character)));
  }
  out.add("\x1b[0m");
  add_cursor_to(&out, screen->info.cursor_position.x, screen->info.cursor_position.y);
  out.flush();
  end_output();
}

void paint_all() {
  paint_cells(0, static_cast<int64_t>(posix_console.screen->cells.size()));
}

/// The sequences that give the terminal's cursor the shape and visibility of `info`.
const char* cursor_info_sequence(const ConsoleCursorInfo& info) {
  if (info.size >= kLargeCursorPercent)
    return info.visible ? "\x1b[2 q\x1b[?25h" : "\x1b[2 q\x1b[?25l";
  return info.visible ? "\x1b[4 q\x1b[?25h" : "\x1b[4 q\x1b[?25l";
}

/// After the program was stopped and continued the terminal may show anything: paints the
/// whole screen again and gives the cursor back its shape.
void repaint_if_continued() {
  if (!stop_state.continued) return;
  stop_state.continued = 0;
  if (!posix_console.screen) return;
  if (posix_console.cursor_shape_changed)
    emit(cursor_info_sequence(posix_console.screen->cursor_info));
  paint_all();
}

/// Paints after a change of `count` cells from `at`.
void paint_run(ConsoleCoord at, uint32_t count) {
  paint_cells(static_cast<int64_t>(at.y) * posix_console.screen->info.size.x + at.x, count);
}

bool is_whole_screen_scroll(const MemoryConsole* screen, const ConsoleSmallRect* rect,
                            const ConsoleSmallRect* clip, ConsoleCoord destination) {
  return !clip && rect->left <= 0 && rect->top == 1 && rect->right >= screen->info.size.x - 1 &&
         rect->bottom >= screen->info.size.y - 1 && destination.x == 0 && destination.y == 0;
}

/// Scrolls the terminal itself by one row (what it showed before the program moves up
/// with it), then paints the freed bottom row.
void paint_scroll_up() {
  MemoryConsole* screen = posix_console.screen;
  const int bottom = screen->info.size.y - 1;
  begin_output();
  OutputBuffer out;
  out.add("\x1b[0m");
  add_cursor_to(&out, 0, bottom);
  out.add("\n");
  out.flush();
  end_output();
  paint_cells(static_cast<int64_t>(bottom) * screen->info.size.x, screen->info.size.x);
}

// ---- terminal modes ----------------------------------------------------------------

/// Gives the terminal back its colours, cursor and modes as they were found; `when` is how
/// tcsetattr applies the modes (only async-signal-safe calls).
void reset_terminal(int when) {
  if (posix_console.screen) {
    const char reset[] = "\x1b[0m\x1b[?25h";
    write_output(reset, sizeof reset - 1);
    const char default_shape[] = "\x1b[0 q";
    if (posix_console.cursor_shape_changed) write_output(default_shape, sizeof default_shape - 1);
  }
  if (posix_console.modes_saved) ::tcsetattr(kInputFd, when, &posix_console.saved_modes);
}

/// At the end: the terminal is given back, and keys typed ahead are dropped.
void release_terminal() {
  stop_state.released = 1;
  reset_terminal(TCSAFLUSH);
}

/// Gives the terminal back, stops the process as Ctrl+Z does by default, and takes the
/// terminal's modes again when continued; the program's thread repaints the screen.
void stop_now() {
  if (!stop_state.released) reset_terminal(TCSADRAIN);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  struct sigaction own {};
  ::sigaction(SIGTSTP, &default_action, &own);
  sigset_t stop_signal, previous_mask;
  sigemptyset(&stop_signal);
  sigaddset(&stop_signal, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &stop_signal, &previous_mask);
  ::raise(SIGTSTP);  // the process stops here until it is continued
  ::sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
  ::sigaction(SIGTSTP, &own, nullptr);
  if (stop_state.released) return;
  if (stop_state.raw_input) ::tcsetattr(kInputFd, TCSANOW, &raw_modes);
  stop_state.continued = 1;
}

void on_stop(int /*signal_number*/) {
  const int saved_errno = errno;
  if (stop_state.writing)
    stop_state.stop_deferred = 1;  // no reset in the middle of an escape sequence
  else
    stop_now();
  errno = saved_errno;
}

/// Registers the terminal's release at the end and takes over Ctrl+Z, unless the process
/// was started with stops ignored.
void register_cleanup() {
  if (posix_console.cleanup_registered) return;
  posix_console.cleanup_registered = true;
  platform_at_exit(release_terminal);
  struct sigaction current {};
  if (::sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTSTP, &action, nullptr);
}

/// Takes the terminal on standard input into non-canonical mode without echo; Ctrl+C
/// still interrupts.
void enter_raw_input() {
  if (posix_console.input_checked) return;
  posix_console.input_checked = true;
  if (!::isatty(kInputFd)) return;
  termios modes{};
  if (::tcgetattr(kInputFd, &modes) != 0) return;
  posix_console.saved_modes = modes;
  posix_console.modes_saved = true;
  register_cleanup();
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  modes.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IXON);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  raw_modes = modes;
  ::tcsetattr(kInputFd, TCSANOW, &raw_modes);
  posix_console.input_is_terminal = true;
  stop_state.raw_input = 1;
}

/// Reads what is available on `fd` within `timeout_ms` (-1: wait) into the free room of
/// `bytes` (`*length` of `capacity` bytes used). False when nothing came or there is no
/// room.
bool read_bytes(int fd, char* bytes, size_t* length, size_t capacity, int timeout_ms) {
  if (*length >= capacity) return false;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  const ssize_t n = ::read(fd, bytes + *length, capacity - *length);
  if (n <= 0) return false;
  *length += static_cast<size_t>(n);
  return true;
}

/// Reads what is typed within `timeout_ms` (-1: wait) into the pending bytes.
bool read_typed_bytes(int timeout_ms) {
  return read_bytes(kInputFd, pending.bytes, &pending.length, sizeof pending.bytes, timeout_ms);
}

/// Whether the key ring is full.
bool keys_full() {
  return keys.count == kKeyRingCapacity;
}

/// Decodes the pending bytes into keys while the ring has room; an escape sequence left
/// incomplete is decoded as far as it goes once `complete` is set. What is not decoded
/// stays pending, at the front.
void decode_pending(bool complete) {
  size_t at = 0;
  while (at < pending.length && !keys_full()) {
    ConsoleInputRecord record;
    bool has_record = false;
    const size_t used =
        terminal_decode_key(reinterpret_cast<const unsigned char*>(pending.bytes) + at,
                            pending.length - at, complete, &record, &has_record);
    if (used == 0) break;
    if (has_record) keys.records[(keys.first + keys.count++) % kKeyRingCapacity] = record;
    at += used;
  }
  std::memmove(pending.bytes, pending.bytes + at, pending.length - at);
  pending.length -= at;
}

/// Reads the digits at `bytes[*at..length)` as a number held to kCursorReportValueLimit,
/// moving `*at` past them. False when there is no digit.
bool parse_report_number(const char* bytes, size_t length, size_t* at, int* value) {
  const size_t start = *at;
  *value = 0;
  for (; *at < length && bytes[*at] >= '0' && bytes[*at] <= '9'; ++*at) {
    *value = *value * 10 + (bytes[*at] - '0');
    if (*value > kCursorReportValueLimit) *value = kCursorReportValueLimit;
  }
  return *at > start;
}

/// Finds the last whole cursor report "ESC [ row ; column R" in `bytes[0..length)`: sets
/// `*start` and `*end` (one past its 'R'), `*row` and `*column` (from 1) and returns true.
bool find_cursor_report(const char* bytes, size_t length, size_t* start, size_t* end, int* row,
                        int* column) {
  for (size_t at = length; at-- > 0;) {
    if (bytes[at] != '\x1b' || at + 1 >= length || bytes[at + 1] != '[') continue;
    size_t i = at + 2;
    if (!parse_report_number(bytes, length, &i, row) || i >= length || bytes[i] != ';') continue;
    ++i;
    if (!parse_report_number(bytes, length, &i, column) || i >= length || bytes[i] != 'R') continue;
    *start = at;
    *end = i + 1;
    return true;
  }
  return false;
}

/// Asks the terminal where its cursor is and reads the report from `fd` into `bytes`
/// (`*length` of `capacity` bytes used); the report is taken out, whatever else arrives
/// meanwhile stays. When the bytes fill up, `typed` bytes (keys typed ahead) are decoded
/// into keys to make room, and stay when the keys fill up too (the report is then not
/// awaited further); other bytes are dropped but for a tail that may begin the report.
/// (0, 0) when no report comes in time.
ConsoleCoord query_cursor_through(int fd, char* bytes, size_t* length, size_t capacity,
                                  bool typed) {
  ConsoleCoord at{0, 0};
  emit("\x1b[6n");
  for (int waited = 0; waited < kCursorReportTimeoutMs; waited += kCursorReportStepMs) {
    size_t start = 0, end = 0;
    int row = 0, column = 0;
    if (find_cursor_report(bytes, *length, &start, &end, &row, &column)) {
      std::memmove(bytes + start, bytes + end, *length - end);
      *length -= end - start;
      at.x = static_cast<int16_t>(column - 1);
      at.y = static_cast<int16_t>(row - 1);
      return at;
    }
    if (*length == capacity) {
      if (typed) {
        decode_pending(false);
      } else {
        const size_t dropped = capacity - kCursorReportLongest;
        std::memmove(bytes, bytes + dropped, kCursorReportLongest);
        *length -= dropped;
      }
      if (*length == capacity) break;
    }
    read_bytes(fd, bytes, length, capacity, kCursorReportStepMs);
  }
  return at;
}

/// Asks the terminal where its cursor is. When the standard input is not the terminal
/// (redirected), the report is read from the controlling terminal itself.
ConsoleCoord query_cursor() {
  if (posix_console.input_is_terminal)
    return query_cursor_through(kInputFd, pending.bytes, &pending.length, sizeof pending.bytes,
                                true);
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return ConsoleCoord{0, 0};
  ConsoleCoord at{0, 0};
  termios saved{};
  if (::tcgetattr(fd, &saved) == 0) {
    termios modes = saved;
    modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    modes.c_cc[VMIN] = 1;
    modes.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &modes);
    char reply[kCursorReplyCapacity];
    size_t reply_length = 0;
    at = query_cursor_through(fd, reply, &reply_length, sizeof reply, false);
    ::tcsetattr(fd, TCSANOW, &saved);
  }
  ::close(fd);
  return at;
}

/// Opens the screen model over the terminal: its size is the terminal's, the cursor is
/// where the terminal has it.
MemoryConsole* open_screen() {
  if (posix_console.screen) return posix_console.screen;
  winsize size{};
  int16_t columns = kFallbackColumns, rows = kFallbackRows;
  if (::ioctl(kOutputFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    columns = static_cast<int16_t>(size.ws_col);
    rows = static_cast<int16_t>(size.ws_row);
  }
  MemoryConsole& screen = terminal_screen;
  memory_console_init(&screen, columns, rows, columns, rows);
  posix_console.screen = &screen;
  register_cleanup();
  enter_raw_input();
  screen.info.cursor_position = query_cursor();
  const ConsoleCoord cursor = screen.info.cursor_position;
  if (cursor.x < 0 || cursor.y < 0 || cursor.x >= columns || cursor.y >= rows)
    screen.info.cursor_position = {0, 0};
  return &screen;
}

// ---- typed input -------------------------------------------------------------------

/// Reads and decodes what has been typed until nothing more is waiting or the keys fill
/// the ring.
void take_typed_bytes() {
  do decode_pending(false);
  while (!keys_full() && read_typed_bytes(0));
}

/// Collects typed keys, waiting up to `timeout_ms` (-1: until one comes) when none is
/// waiting yet.
void pump_typed_keys(int timeout_ms) {
  decode_pending(false);  // bytes held back while the ring was full
  read_typed_bytes(keys.count > 0 ? 0 : timeout_ms);
  take_typed_bytes();
  if (pending.length == 0 || keys_full()) return;
  // What is left begins a sequence that is not complete: it gets a moment to be finished,
  // then is taken as far as it goes (a lone Escape, for one).
  if (read_typed_bytes(kEscapeSequenceTimeoutMs)) take_typed_bytes();
  if (pending.length > 0 && !keys_full()) decode_pending(true);
}

// ---- redirected input --------------------------------------------------------------

/// Reads the next byte of a redirected input into the lookahead, waiting `timeout_ms` for
/// it to come (-1: until it comes or the input ends).
void fill_lookahead(int timeout_ms) {
  if (!redirected_input_wants_byte(posix_console.redirected)) return;
  pollfd p{kInputFd, POLLIN, 0};
  if (timeout_ms != kWaitForever && ::poll(&p, 1, timeout_ms) <= 0) return;
  unsigned char byte = 0;
  ssize_t n;
  do n = ::read(kInputFd, &byte, 1);
  while (n < 0 && errno == EINTR);
  redirected_input_take(posix_console.redirected, n == 1 ? byte : kRedirectedEnd);
}

/// The screen model when `handle` is its handle, else null.
MemoryConsole* screen_of(ConsoleHandle handle) {
  if (handle && handle == posix_console.screen) return posix_console.screen;
  return nullptr;
}

/// Whether changes to `handle` are painted onto the terminal: it is the screen model's and
/// no memory console is installed.
bool painted(ConsoleHandle handle) {
  return !console_installed() && handle == posix_console.screen;
}

}  // namespace

bool console_backend_alloc() {
  return true;
}

bool console_backend_free() {
  return true;
}

ConsoleHandle console_backend_std_handle(int32_t which) {
  if (which == kStdOutputHandle) return ::isatty(kOutputFd) ? open_screen() : stream_output();
  if (which == kStdInputHandle) {
    enter_raw_input();
    return posix_console.input_is_terminal ? terminal_input() : stream_input();
  }
  return nullptr;
}

bool console_backend_buffer_info(ConsoleHandle output, ConsoleScreenBufferInfo* info) {
  MemoryConsole* model = screen_of(output);
  if (!model) return false;
  *info = model->info;
  return true;
}

bool console_backend_set_title(const char* title) {
  if (!posix_console.screen) return false;
  begin_output();
  OutputBuffer text;
  text.add("\x1b]0;");
  for (const char* p = title; p && *p; ++p)
    if (static_cast<unsigned char>(*p) >= 32) text.add(terminal_glyph(static_cast<uint8_t>(*p)));
  text.add("\x07");
  text.flush();
  end_output();
  return true;
}

bool console_backend_set_cursor_position(ConsoleHandle output, ConsoleCoord position) {
  MemoryConsole* model = screen_of(output);
  if (!model || !memory_console_set_cursor_position(model, position)) return false;
  if (painted(output)) {
    char sequence[kCursorSequenceSize];
    emit(sequence, cursor_to(position.x, position.y, sequence));
  }
  return true;
}

bool console_backend_set_cursor_info(ConsoleHandle output, const ConsoleCursorInfo* info) {
  MemoryConsole* model = screen_of(output);
  if (!model || info->size < 1 || info->size > 100) return false;
  model->cursor_info = *info;
  if (painted(output)) {
    posix_console.cursor_shape_changed = true;
    emit(cursor_info_sequence(*info));
  }
  return true;
}

bool console_backend_fill_attribute(ConsoleHandle output, uint16_t attribute, uint32_t length,
                                    ConsoleCoord at, uint32_t* written) {
  MemoryConsole* model = screen_of(output);
  if (!model) return *written = 0, false;
  bool ok = memory_console_fill_attribute(model, attribute, length, at, written);
  if (ok && painted(output)) paint_run(at, *written);
  return ok;
}

bool console_backend_fill_character(ConsoleHandle output, char character, uint32_t length,
                                    ConsoleCoord at, uint32_t* written) {
  MemoryConsole* model = screen_of(output);
  if (!model) return *written = 0, false;
  bool ok = memory_console_fill_character(model, character, length, at, written);
  if (ok && painted(output)) paint_run(at, *written);
  return ok;
}

bool console_backend_write_characters(ConsoleHandle output, const char* characters, uint32_t length,
                                      ConsoleCoord at, uint32_t* written) {
  MemoryConsole* model = screen_of(output);
  if (!model) {
    *written = 0;
    return console_backend_stream_write(output, characters, length);
  }
  bool ok = memory_console_write_characters(model, characters, length, at, written);
  if (ok && painted(output)) paint_run(at, *written);
  return ok;
}

bool console_backend_scroll(ConsoleHandle output, const ConsoleSmallRect* rect,
                            const ConsoleSmallRect* clip, ConsoleCoord destination,
                            const ConsoleCharInfo* fill) {
  MemoryConsole* model = screen_of(output);
  if (!model) return false;
  bool ok = memory_console_scroll(model, rect, clip, destination, fill);
  if (ok && painted(output)) {
    if (is_whole_screen_scroll(model, rect, clip, destination))
      paint_scroll_up();
    else
      paint_all();
  }
  return ok;
}

void console_backend_catch_up() {
  repaint_if_continued();
}

bool console_backend_input_count(ConsoleHandle input, uint32_t* count) {
  if (MemoryConsole* model = screen_of(input)) {
    *count = static_cast<uint32_t>(model->input.size());
  } else if (input == terminal_input()) {
    pump_typed_keys(kInputWaitMs);
    *count = keys.count;
  } else if (input == stream_input()) {
    fill_lookahead(kInputWaitMs);
    *count = redirected_input_count(posix_console.redirected);
  } else {
    return false;
  }
  return true;
}

bool console_backend_read_input(ConsoleHandle input, ConsoleInputRecord* records, uint32_t length,
                                uint32_t* read) {
  if (MemoryConsole* model = screen_of(input))
    return memory_console_read_input(model, records, length, read);
  if (input == terminal_input()) {
    while (keys.count == 0) {
      repaint_if_continued();
      pump_typed_keys(kWaitForever);
    }
    records[0] = keys.records[keys.first];
    keys.first = (keys.first + 1) % kKeyRingCapacity;
    --keys.count;
    *read = 1;
    return true;
  }
  if (input == stream_input()) {
    fill_lookahead(kWaitForever);
    // Nothing comes only when the input has ended.
    if (redirected_input_next(posix_console.redirected, &records[0])) *read = 1;
    return true;
  }
  return false;
}

bool console_backend_input_ended(ConsoleHandle input) {
  if (MemoryConsole* model = screen_of(input)) return model->input_closed && model->input.empty();
  if (input != stream_input()) return false;
  fill_lookahead(0);
  return redirected_input_ended(posix_console.redirected);
}

bool console_backend_stream_write(ConsoleHandle output, const char* bytes, uint32_t length) {
  // A program that writes lines to its terminal rather than paint it writes them as they
  // are, through the screen's handle.
  if (output != stream_output() && !(output && output == posix_console.screen)) return false;
  write_output(bytes, length);
  return true;
}

const char* platform_stream_line_break() {
  return "\n";
}

void platform_console_lend(bool lend) {
  if (!posix_console.modes_saved || stop_state.released) return;
  stop_state.raw_input = lend ? 0 : 1;
  ::tcsetattr(kInputFd, TCSADRAIN, lend ? &posix_console.saved_modes : &raw_modes);
}
