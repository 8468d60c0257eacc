// The built program end to end: copied into a directory of its own, started in a real
// terminal (tmux, 80 x 25) or with redirected standard streams.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/test_tmux.h"
#include "platform/posix/scratch_directory.h"

namespace {

const char* const kTargets[] = {"quorvane.exe", "tessalor.dll", "mirkel.exe",
                                "fandost.exe",  "brovix.exe",   "lostrand.txt"};
constexpr char kQuestion[] = "Datei bereits vorhanden! Ueberschreiben? [(J)a/(N)ein/(A)lle]";
constexpr char kPrompt[] = "Beliebige Taste zum beenden...";

const std::vector<std::string> kCleanScreen = {
    "pac datei erfolgreich geoeffnet",
    "entpacke 'quorvane.exe'",
    "entpacke 'tessalor.dll'",
    "entpacke 'mirkel.exe'",
    "entpacke 'fandost.exe'",
    "entpacke 'brovix.exe'",
    "entpacke 'lostrand.txt'",
    "",
    "Entpacken erfolgreich beendet!",
    "",
    kPrompt,
};

/// A build of the program and how it is started: the Linux program directly, the Windows
/// one through a launcher.
struct Program {
  std::string name;         ///< Linux or Windows
  std::string file;         ///< the built program
  std::string file_name;    ///< its name in the test directory
  std::string payload_dir;  ///< the six files its build packed
  std::string launcher;     ///< command put before the program, or empty
  std::chrono::seconds timeout;
  /// Keys go to standard input through a pipe instead of the terminal. Wine's console in
  /// a terminal reads the terminal only while a program waits in a read, so the keys of a
  /// program that polls its console never arrive; the screen is still the console's.
  bool keys_through_pipe;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

const Program kLinuxProgram{"Linux", ENTPACKER_PATH, "entpacker", PAYLOAD_DIR,
                            "",      kScreenTimeout, false};

/// The Windows program, when the environment names it (scripts/test-windows does):
/// ENTPACKER_WINDOWS_PROGRAM, ENTPACKER_WINDOWS_PAYLOAD and the launcher ENTPACKER_WINE.
std::vector<Program> windows_programs() {
  const char* file = std::getenv("ENTPACKER_WINDOWS_PROGRAM");
  const char* payload = std::getenv("ENTPACKER_WINDOWS_PAYLOAD");
  const char* wine = std::getenv("ENTPACKER_WINE");
  if (!file || !payload || !wine) return {};
  return {Program{"Windows", file, "entpacker.exe", payload, std::string(wine) + " ",
                  std::chrono::seconds(60), true}};
}

class ProgramTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    ASSERT_EQ(mkdir("bin", 0755), 0);
    ASSERT_EQ(std::system(("cp " + program_.file + " bin/" + program_.file_name).c_str()), 0);
    bin_ = directory_ + "/bin/";
  }

  void TearDown() override {
    close_key_pipe();
    ScratchDirectoryTest::TearDown();
  }

  /// The command that starts the program, from whatever directory.
  std::string launch() {
    std::string command = program_.launcher + bin_ + program_.file_name;
    if (program_.keys_through_pipe) {
      close_key_pipe();
      const std::string pipe = directory_ + "/keys";
      std::remove(pipe.c_str());
      EXPECT_EQ(mkfifo(pipe.c_str(), 0600), 0);
      key_pipe_ = open(pipe.c_str(), O_RDWR);  // never blocks, and the input never ends
      EXPECT_GE(key_pipe_, 0);
      command += " < " + pipe;
    }
    return command;
  }
  /// Starts the program in tmux from `start_directory`; its exit code goes to the file rc.
  void start(Tmux& tmux, const std::string& start_directory) {
    ASSERT_EQ(std::system("command -v tmux >/dev/null"), 0) << "tmux is needed";
    ASSERT_TRUE(tmux.start("cd " + start_directory + " && " + launch() + "; echo $? > " +
                           directory_ + "/rc; sleep 60"));
  }
  /// Types `key` (a tmux key name: a character or Enter).
  void type(Tmux& tmux, const std::string& key) {
    if (!program_.keys_through_pipe) return tmux.keys(key);
    const std::string bytes = key == "Enter" ? "\r" : key;
    EXPECT_EQ(write(key_pipe_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void close_key_pipe() {
    if (key_pipe_ >= 0) close(key_pipe_);
    key_pipe_ = -1;
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
  std::string payload(const char* name) const {
    return read_file(program_.payload_dir + "/" + name);
  }
  void expect_extracted() {
    for (const char* name : kTargets) EXPECT_TRUE(read_file(bin_ + name) == payload(name)) << name;
    EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  }

  Program program_ = kLinuxProgram;
  std::string bin_;
  int key_pipe_ = -1;
};

/// The scenarios in a terminal, run for the Linux program and, under Wine, the Windows one.
class ProgramScenarioTest : public ProgramTest, public ::testing::WithParamInterface<Program> {
 protected:
  void SetUp() override {
    program_ = GetParam();
    ProgramTest::SetUp();
  }
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Linux, ProgramScenarioTest, ::testing::Values(kLinuxProgram));
INSTANTIATE_TEST_SUITE_P(Windows, ProgramScenarioTest, ::testing::ValuesIn(windows_programs()));

TEST_P(ProgramScenarioTest, AFreshRunExtractsTheSixFilesByteForByte) {
  Tmux tmux;
  start(tmux, bin_);
  EXPECT_EQ(top(wait_for(tmux, kPrompt)), kCleanScreen);
  expect_extracted();
  type(tmux, "x");
  EXPECT_EQ(exit_code(), "0\n");
}

TEST_P(ProgramScenarioTest, StartedFromAnotherDirectoryItWritesNothingThere) {
  ASSERT_EQ(mkdir("start", 0755), 0);
  Tmux tmux;
  start(tmux, directory_ + "/start");
  EXPECT_EQ(top(wait_for(tmux, kPrompt)), kCleanScreen);
  type(tmux, "Enter");
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
  EXPECT_EQ(run("ls -A " + directory_ + "/start"), "");
}

TEST_P(ProgramScenarioTest, AnExistingFileAnsweredNThenJThenA) {
  for (const char* answer : {"n", "J", "a"}) {
    SCOPED_TRACE(answer);
    std::remove("rc");
    if (answer[0] != 'a') {  // only the second file exists
      for (const char* name : kTargets) std::remove((bin_ + name).c_str());
      write_file("bin/tessalor.dll", "old");
    }
    Tmux tmux;
    start(tmux, bin_);
    std::vector<std::string> screen = wait_for(tmux, kQuestion);
    type(tmux, answer);
    screen = top(wait_for(tmux, kPrompt));
    type(tmux, "Enter");
    EXPECT_EQ(exit_code(), "0\n");
    std::vector<std::string> expected = kCleanScreen;
    // n and j: asked at the second file only; a: every file exists by then, asked at the first.
    expected.insert(expected.begin() + (answer[0] == 'a' ? 2 : 3), kQuestion);
    EXPECT_EQ(screen, expected);
    if (answer[0] == 'n') {
      EXPECT_EQ(read_file(bin_ + "tessalor.dll"), "old");
    } else {
      expect_extracted();
    }
  }
}

TEST_P(ProgramScenarioTest, CtrlCAtTheQuestionRemovesTheTemporaryArchiveAndRestoresTheTerminal) {
  write_file("bin/quorvane.exe", "old");
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
  EXPECT_EQ(read_file(bin_ + "quorvane.exe"), "old");
}

TEST_F(ProgramTest, RedirectedInputEndsTheWaitsAndCountsAsNo) {
  const std::string program = "timeout 20 " + bin_ + "entpacker";
  EXPECT_EQ(std::system((program + " < /dev/null > " + bin_ + "out1").c_str()), 0);
  expect_extracted();
  std::string expected;
  for (const std::string& line : kCleanScreen) expected += line + "\n";
  EXPECT_EQ(read_file(bin_ + "out1"), expected);

  // Every file exists now: the first question reads the end of the input as n.
  write_file("bin/quorvane.exe", "old");
  EXPECT_EQ(std::system((program + " < /dev/null > " + bin_ + "out2").c_str()), 0);
  EXPECT_EQ(read_file(bin_ + "quorvane.exe"), "old");

  // From a pipe: "x" is ignored, "a" answers for all.
  EXPECT_EQ(std::system(("printf xa | " + program + " > " + bin_ + "out3").c_str()), 0);
  expect_extracted();
  std::string asked = expected;
  asked.insert(asked.find("entpacke 'tessalor.dll'"), std::string(kQuestion) + "\n");
  EXPECT_EQ(read_file(bin_ + "out3"), asked);
}

#endif
