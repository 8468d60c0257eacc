// The extraction core on its own, with a report of the test's: what happens when the file
// system changes while a run waits at a question. Runs with each program's ways (the
// built-in program's and the stub's test programs).
#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/extract_core.h"
#include "files/program_directory.h"
#include "testing/file_layer_fixture.h"
#include "testing/self_extractor_helpers.h"

namespace {

/// What the test's report saw, and what it does at a question.
struct SeenReport {
  std::string moved_from;  ///< renamed to moved_to at the first question
  std::string moved_to;
  int questions = 0;
  std::vector<ExtractProblem> failures;
};

SeenReport seen;

void announce(const ArchiveItem&) {}
OverwriteDecision ask(const ArchiveItem&) {
  if (seen.questions++ == 0) {
    EXPECT_EQ(std::rename(seen.moved_from.c_str(), seen.moved_to.c_str()), 0);
  }
  return kDecisionWrite;
}
void fail(const ExtractFailure& failure) {
  seen.failures.push_back(failure.problem);
}
void listed(const ArchiveItem&) {}
void tested(const ArchiveItem&, bool, ExtractProblem) {}
void totals(uint64_t, uint64_t, uint32_t) {}

const ExtractReport kReport = {announce, ask, fail, listed, tested, totals, nullptr};

class ExtractCoreTest : public FileLayerTest {};

}  // namespace

TEST_F(ExtractCoreTest, AFolderMovedAwayAtAQuestionTakesNoEntryOutOfTheOutputFolder) {
  ASSERT_EQ(mkdir("out", 0755), 0);
  ASSERT_EQ(mkdir("anderswo", 0755), 0);
  std::filesystem::create_directories("out/a/b");
  write_file("out/a/b/c.txt", "old c");
  write_file("program", "stub code " + named_archive_of({{"a/b/c.txt", "new c"},
                                                         {"a/b/d/e.txt", "new e"},
                                                         {"a/f.txt", "new f"}}));
  seen = SeenReport{};
  seen.moved_from = in_scratch("out/a/b");
  seen.moved_to = in_scratch("anderswo/b");

  ArchiveSource source;
  ASSERT_EQ(appended_archive_open(in_scratch("program").c_str(), &source), AppendedArchive::valid);
  const ExtractPolicy policy{OverwritePolicy::ask, false};
  ASSERT_TRUE(extract_check_names(source, policy, kReport));
  ASSERT_EQ(chdir("out"), 0);
  program_directory_init("./");
  const bool sound = extract_all(source, policy, kReport);
  archive_source_close(&source);
  ASSERT_EQ(chdir(directory_.c_str()), 0);

  EXPECT_EQ(seen.questions, 1);
  // The moved folder holds what it held; nothing of the archive went after it.
  EXPECT_EQ(read_file("anderswo/b/c.txt"), "old c");
  EXPECT_FALSE(std::filesystem::exists("anderswo/b/d"));
  EXPECT_EQ(read_file("out/a/f.txt"), "new f");
  // An entry of the moved folder is either refused or written where it belongs.
  for (const char* name : {"out/a/b/c.txt", "out/a/b/d/e.txt"}) {
    if (std::filesystem::exists(name)) {
      EXPECT_EQ(read_file(name).substr(0, 4), "new ") << name;
    }
  }
  EXPECT_EQ(sound, seen.failures.empty());
}

#endif
