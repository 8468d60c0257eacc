// The built program end to end: copied into a directory of its own, started in a real
// terminal (tmux, 80 x 25) or with redirected standard streams.
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/overwrite.h"
#include "testing/payload_helpers.h"
#include "testing/scratch_directory_fixture.h"
#include "testing/tmux_helpers.h"

namespace {

constexpr const char* kQuestion = kOverwriteQuestion;
constexpr const char* kPrompt = kClosingPrompt;

const std::vector<std::string> kCleanScreen = clean_run_lines();

/// A build of the program and how it is started: the Linux program directly, the Windows
/// one through a launcher.
struct Program {
  std::string name;         ///< Linux or Windows
  std::string file;         ///< the built program
  std::string file_name;    ///< its name in the test directory
  std::string payload_dir;  ///< the six files its build packed
  std::string launcher;     ///< command put before the program, or empty
  std::chrono::seconds timeout;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

const Program kLinuxProgram{"Linux", ENTPACKER_PATH, "entpacker", PAYLOAD_DIR, "", kScreenTimeout};

/// The Windows programs that the environment names (scripts/test-windows does), one per
/// architecture ARCH (i686, x86_64): ENTPACKER_WINDOWS_ARCH_PROGRAM, its build's payload
/// ENTPACKER_WINDOWS_ARCH_PAYLOAD and the launcher ENTPACKER_WINDOWS_ARCH_WINE.
std::vector<Program> windows_programs() {
  std::vector<Program> programs;
  for (const std::string arch : {"i686", "x86_64"}) {
    const std::string prefix = "ENTPACKER_WINDOWS_" + arch + "_";
    const char* file = std::getenv((prefix + "PROGRAM").c_str());
    const char* payload = std::getenv((prefix + "PAYLOAD").c_str());
    const char* wine = std::getenv((prefix + "WINE").c_str());
    if (file && payload && wine)
      programs.push_back(Program{arch, file, "entpacker.exe", payload, std::string(wine) + " ",
                                 std::chrono::seconds(60)});
  }
  return programs;
}

class ProgramTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    ASSERT_EQ(mkdir("bin", 0755), 0);
    ASSERT_EQ(std::system(("cp " + program_.file + " bin/" + program_.file_name).c_str()), 0);
    bin_ = directory_ + "/bin/";
  }

  /// The command that starts the program, from whatever directory.
  std::string launch() const { return program_.launcher + bin_ + program_.file_name; }
  /// Starts the program in tmux from `start_directory`; its exit code goes to the file rc,
  /// the name of its terminal to the file tty.
  void start(Tmux& tmux, const std::string& start_directory) {
    ASSERT_EQ(std::system("command -v tmux >/dev/null"), 0) << "tmux is needed";
    ASSERT_TRUE(tmux.start("tty > " + directory_ + "/tty; cd " + start_directory + " && " +
                           launch() + "; echo $? > " + directory_ + "/rc; sleep 60"));
  }
  std::vector<std::string> wait_for(Tmux& tmux, const std::string& text) const {
    return tmux.wait_for(text, program_.timeout);
  }
  /// Waits for the file `name` of the test directory to hold `text` (anything, when empty),
  /// and returns its content.
  std::string wait_for_file(const std::string& name, const std::string& text = "") const {
    const auto end = std::chrono::steady_clock::now() + program_.timeout;
    std::string content;
    while ((content.empty() || content.find(text) == std::string::npos) &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      content = ::read_file(directory_ + "/" + name);
    }
    return content;
  }
  /// Waits for the exit code written after the program ended.
  std::string exit_code() const {
    std::string rc = wait_for_file("rc");
    return rc.empty() ? "<none>" : rc;
  }
  static std::vector<std::string> top(std::vector<std::string> rows) {
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }
  std::string payload(const std::string& name) const {
    return read_file(program_.payload_dir + "/" + name);
  }
  void expect_extracted() {
    for (const std::string& name : payload_targets())
      EXPECT_TRUE(read_file(bin_ + name) == payload(name)) << name;
    EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  }

  Program program_ = kLinuxProgram;
  std::string bin_;
};

/// The scenarios in a terminal, run for the Linux program and, under Wine, the Windows one.
class ProgramScenarioTest : public ProgramTest, public ::testing::WithParamInterface<Program> {
 protected:
  void SetUp() override {
    program_ = GetParam();
    ProgramTest::SetUp();
  }
};

std::string program_name(const ::testing::TestParamInfo<Program>& info) {
  return info.param.name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Linux, ProgramScenarioTest, ::testing::Values(kLinuxProgram),
                         program_name);
INSTANTIATE_TEST_SUITE_P(Windows, ProgramScenarioTest, ::testing::ValuesIn(windows_programs()),
                         program_name);

TEST_P(ProgramScenarioTest, AFreshRunExtractsTheSixFilesByteForByte) {
  Tmux tmux;
  start(tmux, bin_);
  // From its first line on the terminal's keys are the program's: one typed while it works
  // is neither echoed nor held back for a whole line.
  wait_for(tmux, kCleanScreen[0]);
  const std::string tty = wait_for_file("tty");
  const std::string modes = run("stty -a < " + tty.substr(0, tty.find('\n')));
  EXPECT_NE(modes.find(" -icanon"), std::string::npos) << modes;
  EXPECT_NE(modes.find(" -echo "), std::string::npos) << modes;
  EXPECT_EQ(top(wait_for(tmux, kPrompt)), kCleanScreen);
  expect_extracted();
  tmux.keys("x");
  EXPECT_EQ(exit_code(), "0\n");
}

TEST_P(ProgramScenarioTest, StartedFromAnotherDirectoryItWritesNothingThere) {
  ASSERT_EQ(mkdir("start", 0755), 0);
  Tmux tmux;
  start(tmux, directory_ + "/start");
  EXPECT_EQ(top(wait_for(tmux, kPrompt)), kCleanScreen);
  tmux.keys("Enter");
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
  EXPECT_EQ(run("ls -A " + directory_ + "/start"), "");
}

TEST_P(ProgramScenarioTest, AnExistingFileAnsweredNThenJThenA) {
  for (const char* answer : {"n", "J", "a"}) {
    SCOPED_TRACE(answer);
    std::remove("rc");
    if (answer[0] != 'a') {  // only the second file exists
      for (const std::string& name : payload_targets()) std::remove((bin_ + name).c_str());
      write_file("bin/" + payload_target(1), "old");
    }
    Tmux tmux;
    start(tmux, bin_);
    std::vector<std::string> screen = wait_for(tmux, kQuestion);
    tmux.keys(answer);
    screen = top(wait_for(tmux, kPrompt));
    tmux.keys("Enter");
    EXPECT_EQ(exit_code(), "0\n");
    std::vector<std::string> expected = kCleanScreen;
    // n and j: asked at the second file only; a: every file exists by then, asked at the first.
    expected.insert(expected.begin() + (answer[0] == 'a' ? 2 : 3), kQuestion);
    EXPECT_EQ(screen, expected);
    if (answer[0] == 'n') {
      EXPECT_EQ(read_file(bin_ + payload_target(1)), "old");
    } else {
      expect_extracted();
    }
  }
}

TEST_P(ProgramScenarioTest, CtrlCAtTheQuestionRemovesTheTemporaryArchiveAndRestoresTheTerminal) {
  write_file("bin/" + payload_target(0), "old");
  Tmux tmux;
  ASSERT_TRUE(tmux.start("trap : INT; cd " + bin_ + " && " + launch() + "; stty -a > " +
                         directory_ + "/modes; sleep 60"));
  wait_for(tmux, kQuestion);
  EXPECT_EQ(access((bin_ + "pactest.pac").c_str(), F_OK), 0);  // written, in use
  tmux.keys("C-c");
  const std::string modes = wait_for_file("modes", "icanon");
  EXPECT_NE(modes.find(" icanon"), std::string::npos);
  EXPECT_NE(modes.find(" echo "), std::string::npos);
  EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  EXPECT_EQ(read_file(bin_ + payload_target(0)), "old");
}

TEST_F(ProgramTest, RedirectedInputEndsTheWaitsAndCountsAsNo) {
  const std::string program = "timeout 20 " + bin_ + "entpacker";
  EXPECT_EQ(std::system((program + " < /dev/null > " + bin_ + "out1").c_str()), 0);
  expect_extracted();
  std::string expected;
  for (const std::string& line : kCleanScreen) expected += line + "\n";
  EXPECT_EQ(read_file(bin_ + "out1"), expected);

  // Every file exists now: the first question reads the end of the input as n.
  write_file("bin/" + payload_target(0), "old");
  EXPECT_EQ(std::system((program + " < /dev/null > " + bin_ + "out2").c_str()), 0);
  EXPECT_EQ(read_file(bin_ + payload_target(0)), "old");

  // From a pipe: "x" is ignored, "a" answers for all.
  EXPECT_EQ(std::system(("printf xa | " + program + " > " + bin_ + "out3").c_str()), 0);
  expect_extracted();
  std::string asked = expected;
  asked.insert(asked.find(payload_entries[1].announcement), std::string(kQuestion) + "\n");
  EXPECT_EQ(read_file(bin_ + "out3"), asked);
}

namespace {

constexpr int kClosed = -1;
constexpr int kKilledByTimeout = -1000;

/// Starts `program` with `in`, `out` and `err` as its standard streams (kClosed: closed)
/// and the default action for SIGPIPE, whatever the test runner ignores.
pid_t spawn(const std::string& program, int in, int out, int err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int given[] = {in, out, err};
  int moved[3];
  for (int fd = 0; fd < 3; ++fd)  // out of the way first: a source may be 0, 1 or 2
    moved[fd] = given[fd] == kClosed ? kClosed : fcntl(given[fd], F_DUPFD, 10);
  for (int fd = 0; fd < 3; ++fd) {
    if (moved[fd] == kClosed)
      close(fd);
    else
      dup2(moved[fd], fd);
  }
  signal(SIGPIPE, SIG_DFL);
  execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

/// The exit code of `pid`, minus the signal number when a signal ended it; the process is
/// killed after `timeout`.
int wait_exit(pid_t pid, std::chrono::seconds timeout = kScreenTimeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return kKilledByTimeout;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

/// What the descriptor `fd` of process `pid` refers to.
std::string descriptor_target(pid_t pid, const std::string& fd) {
  char target[PATH_MAX] = {};
  const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + fd;
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "<closed>";
}

/// Waits until process `pid` holds a descriptor on a file whose path ends in `name`.
bool wait_for_open_file(pid_t pid, const std::string& name) {
  const auto end = std::chrono::steady_clock::now() + kScreenTimeout;
  const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
  while (std::chrono::steady_clock::now() < end) {
    if (DIR* d = opendir(directory.c_str())) {
      bool found = false;
      while (dirent* entry = readdir(d)) {
        const std::string target = descriptor_target(pid, entry->d_name);
        if (target.size() >= name.size() &&
            target.compare(target.size() - name.size(), name.size(), name) == 0)
          found = true;
      }
      closedir(d);
      if (found) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

/// CPU time (user and system) that process `pid` has used so far, in seconds.
double cpu_seconds(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');  // the command name may hold blanks
  if (name_end == std::string::npos) return 0;
  std::istringstream fields(stat.substr(name_end + 1));
  constexpr int kFirstField = 3, kUserTime = 14, kSystemTime = 15;
  long ticks = 0;
  std::string field;
  for (int number = kFirstField; number <= kSystemTime && fields >> field; ++number)
    if (number >= kUserTime) ticks += std::stol(field);
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

constexpr auto kIdleSpan = std::chrono::seconds(2);
constexpr double kMostBusyShare = 0.02;

/// The share of one core that process `pid` uses over kIdleSpan.
double busy_share(pid_t pid) {
  const double before = cpu_seconds(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kIdleSpan);
  const std::chrono::duration<double> span = std::chrono::steady_clock::now() - start;
  return (cpu_seconds(pid) - before) / span.count();
}

}  // namespace

TEST_F(ProgramTest, WaitingForAKeyLeavesTheCoreIdle) {
  // Standard input a pipe that stays open: the question, then the final wait.
  write_file("bin/" + payload_target(0), "old");
  ASSERT_EQ(mkfifo("keys", 0600), 0);
  const int keys = open("keys", O_RDWR);
  const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = spawn(bin_ + "entpacker", keys, out, STDERR_FILENO);
  close(out);
  EXPECT_NE(wait_for_file("out", kQuestion).find(kQuestion), std::string::npos);
  EXPECT_LE(busy_share(pid), kMostBusyShare) << "pipe, at the question";
  EXPECT_EQ(write(keys, "j", 1), 1);
  EXPECT_NE(wait_for_file("out", kPrompt).find(kPrompt), std::string::npos);
  EXPECT_LE(busy_share(pid), kMostBusyShare) << "pipe, at the final wait";
  EXPECT_EQ(write(keys, "x", 1), 1);
  EXPECT_EQ(wait_exit(pid), 0);
  close(keys);

  // The same in a terminal; the shell that writes its number becomes the program.
  write_file("bin/" + payload_target(0), "old");
  Tmux tmux;
  ASSERT_TRUE(tmux.start("cd " + bin_ + " && sh -c \"echo \\$\\$ > " + directory_ +
                         "/pid; exec ./entpacker\"; echo $? > " + directory_ + "/rc; sleep 60"));
  wait_for(tmux, kQuestion);
  pid = static_cast<pid_t>(std::strtol(wait_for_file("pid").c_str(), nullptr, 10));
  ASSERT_GT(pid, 0);
  EXPECT_LE(busy_share(pid), kMostBusyShare) << "terminal, at the question";
  tmux.keys("a");  // every file exists by now
  wait_for(tmux, kPrompt);
  EXPECT_LE(busy_share(pid), kMostBusyShare) << "terminal, at the final wait";
  tmux.keys("x");
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
}

TEST_F(ProgramTest, OutputIntoAClosedPipeStillExtractsEverything) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);  // every write fails
  const int null_input = open("/dev/null", O_RDONLY);
  const pid_t pid = spawn(bin_ + "entpacker", null_input, pipe_ends[1], STDERR_FILENO);
  close(pipe_ends[1]);
  close(null_input);
  EXPECT_EQ(wait_exit(pid), 0);
  expect_extracted();
}

TEST_F(ProgramTest, APipeThatClosesMidwayLeavesTheRunAndTheTerminalWhole) {
  write_file("bin/" + payload_target(0), "old");
  Tmux tmux;
  ASSERT_TRUE(tmux.start("cd " + bin_ + " && { ./entpacker; echo $? > " + directory_ +
                         "/rc; } | head -n 1; stty -a > " + directory_ + "/modes; sleep 60"));
  wait_for(tmux, "pac datei erfolgreich geoeffnet");  // shown by head, which then ends
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  tmux.keys("j");  // the question, then the final wait
  tmux.keys("Enter");
  const std::string modes = wait_for_file("modes", "icanon");
  EXPECT_NE(modes.find(" icanon"), std::string::npos);
  EXPECT_NE(modes.find(" echo "), std::string::npos);
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
}

TEST_F(ProgramTest, ClosedStandardStreamsAreReplacedBeforeAnyFileIsOpened) {
  // No input: the question reads its end as n, the final wait ends.
  write_file("bin/" + payload_target(0), "old");
  const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = spawn(bin_ + "entpacker", kClosed, out, STDERR_FILENO);
  close(out);
  EXPECT_EQ(wait_exit(pid), 0);
  EXPECT_EQ(read_file(bin_ + payload_target(0)), "old");
  EXPECT_TRUE(read_file(bin_ + payload_target(5)) == payload(payload_target(5)));
  EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  EXPECT_NE(read_file("out").find(kQuestion), std::string::npos);

  // No output or no error stream: neither becomes a file the program opens.
  for (int closed : {STDOUT_FILENO, STDERR_FILENO}) {
    SCOPED_TRACE(closed);
    write_file("bin/" + payload_target(0), "old");
    std::remove("keys");
    ASSERT_EQ(mkfifo("keys", 0600), 0);
    const int keys = open("keys", O_RDWR);
    const int null_output = open("/dev/null", O_WRONLY);
    pid = spawn(bin_ + "entpacker", keys, closed == STDOUT_FILENO ? kClosed : null_output,
                closed == STDERR_FILENO ? kClosed : null_output);
    close(null_output);
    EXPECT_TRUE(wait_for_open_file(pid, "/pactest.pac"));  // at the question
    EXPECT_EQ(descriptor_target(pid, std::to_string(closed)), "/dev/null");
    EXPECT_EQ(write(keys, "ax", 2), 2);  // write every file, then end the final wait
    EXPECT_EQ(wait_exit(pid), 0);
    close(keys);
    expect_extracted();
  }
}

TEST_F(ProgramTest, CtrlZGivesTheTerminalBackAndFgRepaintsTheScreen) {
  // A shell with job control that leaves the terminal's modes as the stopped job left them.
  ASSERT_EQ(std::system("command -v dash >/dev/null"), 0) << "dash is needed";
  write_file("bin/" + payload_target(0), "old");
  Tmux tmux;
  ASSERT_TRUE(tmux.start("cd " + bin_ + " && env -u ENV PS1=\"$ \" dash -i"));
  wait_for(tmux, "$");
  tmux.keys("./entpacker Enter");
  const std::vector<std::string> before = wait_for(tmux, kQuestion);
  tmux.keys("C-z");
  wait_for(tmux, "Stopped");
  tmux.keys("'stty -a > " + directory_ + "/modes; clear; fg; echo $? > " + directory_ +
            "/rc' Enter");
  const std::string modes = wait_for_file("modes", "icanon");
  EXPECT_NE(modes.find(" icanon"), std::string::npos);
  EXPECT_NE(modes.find(" echo "), std::string::npos);
  // The whole screen comes back, over what the shell wrote (and cleared) meanwhile; the row
  // of the command line was not the program's.
  const std::vector<std::string> expected(before.begin() + 1, before.end());
  std::vector<std::string> after;
  const auto end = std::chrono::steady_clock::now() + kScreenTimeout;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    after = tmux.screen();
    after.erase(after.begin());
  } while (after != expected && std::chrono::steady_clock::now() < end);
  EXPECT_EQ(after, expected);
  tmux.keys("j");  // answered without Enter: the keys are raw again
  wait_for(tmux, kPrompt);
  tmux.keys("Enter");
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
}

#endif
