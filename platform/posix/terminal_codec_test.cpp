#include "platform/posix/terminal_codec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/memory_console.h"

namespace {

/// The colour sequence of `attribute` as a string.
std::string colour_sequence(uint16_t attribute, uint16_t default_attribute) {
  char sequence[kTerminalColourSequenceSize];
  return std::string(sequence, terminal_colour_sequence(attribute, default_attribute, sequence));
}

struct Decoded {
  std::vector<ConsoleInputRecord> keys;
  size_t left;  // bytes not taken
};

Decoded decode(const std::string& bytes, bool complete) {
  Decoded d{{}, 0};
  size_t at = 0;
  while (at < bytes.size()) {
    ConsoleInputRecord r;
    bool has = false;
    size_t used = terminal_decode_key(reinterpret_cast<const unsigned char*>(bytes.data()) + at,
                                      bytes.size() - at, complete, &r, &has);
    if (used == 0) break;
    if (has) d.keys.push_back(r);
    at += used;
  }
  d.left = bytes.size() - at;
  return d;
}

uint8_t ch(const ConsoleInputRecord& r) {
  return static_cast<uint8_t>(r.ascii_char);
}

}  // namespace

TEST(TerminalCodec, CharactersCarryTheScanCodeOfTheirKey) {
  Decoded d = decode("jJ\r \x7f", false);
  ASSERT_EQ(d.keys.size(), 5u);
  EXPECT_EQ(ch(d.keys[0]), 'j');
  EXPECT_EQ(d.keys[0].virtual_scan_code, 0x24);
  EXPECT_EQ(d.keys[1].virtual_scan_code, 0x24);
  EXPECT_EQ(d.keys[2].virtual_scan_code, 0x1C);
  EXPECT_EQ(d.keys[3].virtual_scan_code, 0x39);
  EXPECT_EQ(ch(d.keys[4]), 8);  // the terminal's erase key is Backspace
  EXPECT_EQ(d.keys[4].virtual_scan_code, 0x0E);
  EXPECT_EQ(d.keys[0].event_type, kKeyEvent);
  EXPECT_EQ(d.keys[0].key_down, 1u);
}

TEST(TerminalCodec, FunctionAndCursorKeysHaveNoCharacter) {
  Decoded d = decode("\x1bOP\x1b[A\x1b[B\x1b[D\x1b[C\x1b[15~\x1b[1;5A\x1b[24~", false);
  const uint16_t scans[] = {0x3B, 0x48, 0x50, 0x4B, 0x4D, 0x3F, 0x48, 0x58};
  ASSERT_EQ(d.keys.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(ch(d.keys[i]), 0) << i;
    EXPECT_EQ(d.keys[i].virtual_scan_code, scans[i]) << i;
  }
  EXPECT_EQ(d.left, 0u);
}

TEST(TerminalCodec, IncompleteSequencesWaitUnlessComplete) {
  EXPECT_EQ(decode("\x1b[1", false).left, 3u);
  Decoded lone = decode("\x1b", true);
  ASSERT_EQ(lone.keys.size(), 1u);
  EXPECT_EQ(ch(lone.keys[0]), 27);
  EXPECT_EQ(lone.keys[0].virtual_scan_code, 0x01);
  EXPECT_EQ(decode("\xc3", false).left, 1u);
  // Escape followed by an ordinary key: two keys.
  EXPECT_EQ(decode("\x1bx", false).keys.size(), 2u);
  // An unknown sequence is taken whole without a key.
  Decoded unknown = decode("\x1b[99zq", false);
  ASSERT_EQ(unknown.keys.size(), 1u);
  EXPECT_EQ(ch(unknown.keys[0]), 'q');
}

TEST(TerminalCodec, Utf8MapsBackToWindows1252) {
  Decoded d = decode("\xc3\xa4\xe2\x82\xac\xe4\xb8\xad\xc3\x9f", false);
  ASSERT_EQ(d.keys.size(), 4u);
  EXPECT_EQ(ch(d.keys[0]), 0xE4);
  EXPECT_EQ(ch(d.keys[1]), 0x80);
  EXPECT_EQ(ch(d.keys[2]), 0);  // outside the code page: a key without a character
  EXPECT_EQ(ch(d.keys[3]), 0xDF);
  EXPECT_EQ(terminal_cp1252_of(0x2122), 0x99);
  EXPECT_EQ(terminal_cp1252_of(0x0100), -1);
}

TEST(TerminalCodec, GlyphsNeverSendControlBytes) {
  for (int b = 0; b < 256; ++b) {
    const std::string g = terminal_glyph(static_cast<uint8_t>(b));
    ASSERT_FALSE(g.empty()) << b;
    for (unsigned char c : g) ASSERT_TRUE(c >= 0x20 && c != 0x7F) << b;
  }
  EXPECT_STREQ(terminal_glyph('A'), "A");
  EXPECT_STREQ(terminal_glyph(0xE4), "\xc3\xa4");
  EXPECT_STREQ(terminal_glyph(0x80), "\xe2\x82\xac");
  EXPECT_STREQ(terminal_glyph(0), "\xe2\x90\x80");
  EXPECT_STREQ(terminal_glyph(0x7F), "\xe2\x90\xa1");
}

TEST(TerminalCodec, ColoursRelativeToTheDefault) {
  EXPECT_EQ(colour_sequence(0x07, 0x07), "\x1b[0m");
  EXPECT_EQ(colour_sequence(0x1E, 0x07), "\x1b[0;93;44m");
  EXPECT_EQ(colour_sequence(0x0C, 0x07), "\x1b[0;91m");
  EXPECT_EQ(colour_sequence(0x47, 0x07), "\x1b[0;41m");
  // The longest sequence, bright on bright, fits the stated size.
  char longest[kTerminalColourSequenceSize];
  EXPECT_EQ(terminal_colour_sequence(0xFF, 0x07, longest), 11u);
  EXPECT_STREQ(longest, "\x1b[0;97;107m");
}

// ---- typed input through a pseudo-terminal ------------------------------------------
//
// A child process takes the terminal side of a pseudo-terminal as its standard input and
// output and reads keys through the console services; it sends back the cursor it found
// and each key (character, scan code) through a pipe.

namespace {

constexpr int kChildTimeLimitSeconds = 20;
constexpr int kMasterReadTimeoutMs = 5000;
constexpr unsigned short kPtyColumns = 80;
constexpr unsigned short kPtyRows = 25;
constexpr useconds_t kSettleMicroseconds = 200 * 1000;

struct ChildRun {
  int16_t cursor_x = -1;
  int16_t cursor_y = -1;
  std::string keys;  // two bytes per key: character, scan code
  int status = -1;
};

/// The key encoding a child sends back for `character` and `scan`.
std::string key(char character, uint8_t scan) {
  return std::string{character, static_cast<char>(scan)};
}

/// Writes all of `bytes` to `fd`.
bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

/// In the child: opens the console on the terminal (its screen too, when `open_screen`,
/// with the keys typed before the cursor report), reports the cursor, then reads
/// `key_count` keys; keys typed after that are given a moment to arrive first.
[[noreturn]] void run_child(int terminal, int results, bool open_screen, size_t key_count) {
  ::alarm(kChildTimeLimitSeconds);
  ::dup2(terminal, STDIN_FILENO);
  ::dup2(terminal, STDOUT_FILENO);
  platform_console_install(nullptr);
  ConsoleCoord cursor{-1, -1};
  if (open_screen) {
    ConsoleScreenBufferInfo info{};
    if (!platform_console_buffer_info(platform_std_handle(kStdOutputHandle), &info)) _exit(2);
    cursor = info.cursor_position;
  }
  ConsoleHandle input = platform_std_handle(kStdInputHandle);
  const int16_t head[2] = {cursor.x, cursor.y};
  if (::write(results, head, sizeof head) != sizeof head) _exit(3);
  if (!open_screen) {  // the keys are typed now
    pollfd p{STDIN_FILENO, POLLIN, 0};
    ::poll(&p, 1, -1);
    ::usleep(kSettleMicroseconds);
  }
  for (size_t i = 0; i < key_count; ++i) {
    ConsoleInputRecord record{};
    uint32_t read = 0;
    if (!platform_console_read_input(input, &record, 1, &read) || read != 1) _exit(4);
    const char pair[2] = {record.ascii_char, static_cast<char>(record.virtual_scan_code)};
    if (::write(results, pair, sizeof pair) != sizeof pair) _exit(5);
  }
  _exit(0);
}

/// Starts a child on a new pseudo-terminal that reads `key_count` keys; when
/// `open_screen`, waits for its cursor question and answers it with `reply`. Then types
/// `typed` and collects what the child sends back.
ChildRun run_on_terminal(bool open_screen, const std::string& reply, const std::string& typed,
                         size_t key_count) {
  ChildRun run;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return run;
  winsize size{};
  size.ws_col = kPtyColumns;
  size.ws_row = kPtyRows;
  ::ioctl(master, TIOCSWINSZ, &size);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  int results[2];
  if (terminal < 0 || ::pipe(results) != 0) return run;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(master);
    ::close(results[0]);
    run_child(terminal, results[1], open_screen, key_count);
  }
  ::close(terminal);
  ::close(results[1]);
  if (open_screen) {  // the question comes first, then the answer after the typed bytes
    std::string seen;
    pollfd p{master, POLLIN, 0};
    while (seen.find("\x1b[6n") == std::string::npos && ::poll(&p, 1, kMasterReadTimeoutMs) > 0) {
      char chunk[256];
      const ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n <= 0) break;
      seen.append(chunk, static_cast<size_t>(n));
    }
    write_all(master, typed + reply);
  }
  int16_t head[2] = {-1, -1};
  if (::read(results[0], head, sizeof head) == sizeof head) {
    run.cursor_x = head[0];
    run.cursor_y = head[1];
    if (!open_screen) write_all(master, typed);  // after the child has taken raw mode
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(results[0], chunk, sizeof chunk)) > 0)
      run.keys.append(chunk, static_cast<size_t>(n));
  }
  ::waitpid(child, &run.status, 0);
  ::close(results[0]);
  ::close(master);
  return run;
}

}  // namespace

TEST(TerminalInput, BurstLargerThanTheBuffersArrivesWholeAndInOrder) {
  // Characters, a cursor key and a two-byte character, far more than the key ring and
  // the pending bytes hold, so that sequences are cut at the end of a read.
  const std::string pattern = "ab\x1b[Ac\xc3\xa4";
  const std::string pattern_keys =
      key('a', 0x1E) + key('b', 0x30) + key(0, 0x48) + key('c', 0x2E) + key('\xe4', 0);
  constexpr size_t kRepeats = 800;
  std::string typed, expected;
  for (size_t i = 0; i < kRepeats; ++i) {
    typed += pattern;
    expected += pattern_keys;
  }
  ChildRun run = run_on_terminal(false, "", typed, expected.size() / 2);
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  ASSERT_EQ(run.keys.size(), expected.size());
  EXPECT_TRUE(run.keys == expected);
}

TEST(TerminalInput, KeysTypedBeforeTheCursorReportStayKeys) {
  // More typed bytes than the pending buffer holds (but fewer than it and the key ring
  // together) come before the report: they are decoded to make room and all arrive after
  // it, in order.
  const std::string pattern = "xy\x1b[B";
  const std::string pattern_keys = key('x', 0x2D) + key('y', 0x15) + key(0, 0x50);
  constexpr size_t kRepeats = 850;
  std::string typed, expected;
  for (size_t i = 0; i < kRepeats; ++i) {
    typed += pattern;
    expected += pattern_keys;
  }
  ChildRun run = run_on_terminal(true, "\x1b[7;12R", typed, expected.size() / 2);
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.cursor_x, 11);
  EXPECT_EQ(run.cursor_y, 6);
  ASSERT_EQ(run.keys.size(), expected.size());
  EXPECT_TRUE(run.keys == expected);

  // A report outside the screen, or of row 0, leaves the cursor at the top left.
  for (const char* reply : {"\x1b[0;5R", "\x1b[99999;3R"}) {
    ChildRun odd = run_on_terminal(true, reply, "q", 1);
    EXPECT_EQ(odd.cursor_x, 0) << reply + 1;
    EXPECT_EQ(odd.cursor_y, 0) << reply + 1;
    EXPECT_EQ(odd.keys, key('q', 0x10));
  }
}
