// The built programs as processes: entpacker-stub with archives appended to a copy of it,
// and entpacker's options over its carried archive. The arguments travel through a shell,
// so that spaces and umlauts in them are read back as the program was given them.
#ifndef _WIN32

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "app/options.h"
#include "testing/payload_helpers.h"
#include "testing/scratch_directory_fixture.h"
#include "testing/self_extractor_helpers.h"

namespace {

/// Runs `command` with /bin/sh; its exit code, or -1 when it did not exit.
int run_shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StubProgramTest : public ScratchDirectoryTest {
 protected:
  /// Writes `name`: the stub with `archive` appended, executable.
  void make_self_extractor(const std::string& name, const std::string& archive) {
    write_file(name, read_file(ENTPACKER_STUB_PATH) + archive);
    ASSERT_EQ(chmod(name.c_str(), 0755), 0);
  }

  /// Runs `command` with standard input empty, its output in "out.txt" and "err.txt".
  int run(const std::string& command) {
    return run_shell(command + " < /dev/null > out.txt 2> err.txt");
  }
};

const std::vector<ArchiveFile> kFiles = {
    {"Ordner mit Leerzeichen/\xC3\xBC"
     "ber.txt",
     "umlaut\n", 1600000000},
    {"skript.sh", "#!/bin/sh\nexit 7\n", 1500000000, kNamedEntryExecutable},
    {"leer", "", 1400000000},
    archive_folder("leerer Ordner", 1300000000),
};

}  // namespace

TEST_F(StubProgramTest, TheStubAloneSaysThatNothingIsAppended) {
  make_self_extractor("stub", "");
  EXPECT_EQ(run("./stub"), kExitFailure);
  EXPECT_EQ(read_file("out.txt"), std::string(kNoArchive) + "\n");
  EXPECT_EQ(run("./stub --version"), kExitSuccess);
  EXPECT_EQ(read_file("out.txt"), std::string(kProgramVersion) + "\n");
}

TEST_F(StubProgramTest, ASelfExtractorExtractsWithItsOptionsFromAnyFolder) {
  make_self_extractor("sfx", named_archive_of(kFiles));
  ASSERT_EQ(mkdir("woanders", 0755), 0);
  EXPECT_EQ(run("(cd woanders && ../sfx -y --output '../Ziel \xC3\xBC/tief')"), kExitSuccess)
      << read_file("out.txt");
  const std::string root = "Ziel \xC3\xBC/tief/";
  EXPECT_EQ(read_file(root + kFiles[0].path), "umlaut\n");
  EXPECT_EQ(read_file(root + "leer"), "");
  EXPECT_EQ(run_shell("'" + root + "skript.sh'"), 7);  // executable
  struct stat info;
  ASSERT_EQ(stat((root + "leerer Ordner").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mtime, 1300000000);
  ASSERT_EQ(stat((root + "skript.sh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1500000000);
  EXPECT_TRUE(std::filesystem::is_empty("woanders"));

  // Without arguments: into its own folder, the end of input answering the closing wait.
  EXPECT_EQ(run("./sfx"), kExitSuccess);
  EXPECT_EQ(read_file(kFiles[0].path), "umlaut\n");
  EXPECT_NE(read_file("out.txt").find(kClosingPrompt), std::string::npos);
}

TEST_F(StubProgramTest, ADamagedByteFailsTheTestAndARunWritesNothing) {
  std::string archive = named_archive_of(kFiles);
  archive[3] ^= 0x40;
  make_self_extractor("sfx", archive);
  EXPECT_EQ(run("./sfx --test"), kExitFailure);
  EXPECT_NE(read_file("out.txt").find("FEHLER"), std::string::npos);
  EXPECT_EQ(run("./sfx -y"), kExitFailure);
  EXPECT_EQ(run("./sfx"), kExitFailure);
  EXPECT_EQ(read_file("out.txt").substr(0, sizeof kExtractionFailed - 1), kExtractionFailed);
  EXPECT_EQ(read_file("skript.sh"), "<missing>");
  EXPECT_EQ(read_file("leer"), "<missing>");
}

TEST_F(StubProgramTest, TheProgramListsAndTestsItsCarriedArchiveAndRefusesWrongArguments) {
  const std::string program = std::string("'") + ENTPACKER_PATH + "'";
  EXPECT_EQ(run(program + " --list"), kExitSuccess);
  const std::string listed = read_file("out.txt");
  for (const std::string& name : payload_targets())
    EXPECT_NE(listed.find("  " + name + "\n"), std::string::npos) << name;
  EXPECT_NE(listed.find("6 Eintraege"), std::string::npos);
  EXPECT_EQ(run(program + " -t"), kExitSuccess);
  EXPECT_EQ(run(program + " --yes --no"), kExitUsage);
  EXPECT_EQ(read_file("out.txt"), "");
  EXPECT_NE(read_file("err.txt").find(kUsageLines[0]), std::string::npos);
  EXPECT_EQ(run(program + " -h"), kExitSuccess);
  EXPECT_NE(read_file("out.txt").find(kUsageLines[0]), std::string::npos);
}

#endif  // _WIN32
