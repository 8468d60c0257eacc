// The built program end to end: copied into a directory of its own, started in a real
// terminal (tmux, 80 x 25) or with redirected standard streams.
#ifndef _WIN32

#include <sys/stat.h>

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

std::string payload(const char* name) {
  return read_file(std::string(PAYLOAD_DIR) + "/" + name);
}

class ProgramTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    ASSERT_EQ(mkdir("bin", 0755), 0);
    ASSERT_EQ(std::system(("cp " + std::string(ENTPACKER_PATH) + " bin/entpacker").c_str()), 0);
    bin_ = directory_ + "/bin/";
  }

  /// Starts the program in tmux from `start_directory`; its exit code goes to the file rc.
  void start(Tmux& tmux, const std::string& start_directory) {
    ASSERT_EQ(std::system("command -v tmux >/dev/null"), 0) << "tmux is needed";
    ASSERT_TRUE(tmux.start("cd " + start_directory + " && " + bin_ + "entpacker; echo $? > " +
                           directory_ + "/rc; sleep 60"));
  }
  /// Waits for the exit code written after the program ended.
  std::string exit_code() {
    for (int i = 0; i < 200; ++i) {
      std::string rc = ::read_file(directory_ + "/rc");
      if (!rc.empty()) return rc;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "<none>";
  }
  static std::vector<std::string> top(std::vector<std::string> rows) {
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }
  void expect_extracted() {
    for (const char* name : kTargets) EXPECT_TRUE(read_file(bin_ + name) == payload(name)) << name;
    EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  }

  std::string bin_;
};

}  // namespace

TEST_F(ProgramTest, AFreshRunExtractsTheSixFilesByteForByte) {
  Tmux tmux;
  start(tmux, bin_);
  EXPECT_EQ(top(tmux.wait_for(kPrompt)), kCleanScreen);
  expect_extracted();
  tmux.keys("x");
  EXPECT_EQ(exit_code(), "0\n");
}

TEST_F(ProgramTest, StartedFromAnotherDirectoryItWritesNothingThere) {
  ASSERT_EQ(mkdir("start", 0755), 0);
  Tmux tmux;
  start(tmux, directory_ + "/start");
  EXPECT_EQ(top(tmux.wait_for(kPrompt)), kCleanScreen);
  tmux.keys("Enter");
  EXPECT_EQ(exit_code(), "0\n");
  expect_extracted();
  EXPECT_EQ(run("ls -A " + directory_ + "/start"), "");
}

TEST_F(ProgramTest, AnExistingFileAnsweredNThenJThenA) {
  for (const char* answer : {"n", "J", "a"}) {
    SCOPED_TRACE(answer);
    std::remove("rc");
    if (answer[0] != 'a') {  // only the second file exists
      for (const char* name : kTargets) std::remove((bin_ + name).c_str());
      write_file("bin/tessalor.dll", "old");
    }
    Tmux tmux;
    start(tmux, bin_);
    std::vector<std::string> screen = tmux.wait_for(kQuestion);
    tmux.keys(answer);
    screen = top(tmux.wait_for(kPrompt));
    tmux.keys("Enter");
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

TEST_F(ProgramTest, CtrlCAtTheQuestionRemovesTheTemporaryArchiveAndRestoresTheTerminal) {
  write_file("bin/quorvane.exe", "old");
  Tmux tmux;
  ASSERT_TRUE(tmux.start("trap : INT; cd " + bin_ + " && ./entpacker; stty -a > " + directory_ +
                         "/modes; sleep 60"));
  tmux.wait_for(kQuestion);
  EXPECT_EQ(access((bin_ + "pactest.pac").c_str(), F_OK), 0);  // written, in use
  tmux.keys("C-c");
  std::string modes;
  for (int i = 0; i < 200 && modes.find("icanon") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    modes = ::read_file(directory_ + "/modes");
  }
  EXPECT_NE(modes.find(" icanon"), std::string::npos);
  EXPECT_NE(modes.find(" echo "), std::string::npos);
  EXPECT_NE(access((bin_ + "pactest.pac").c_str(), F_OK), 0);
  EXPECT_EQ(read_file(bin_ + "quorvane.exe"), "old");
}

#endif
