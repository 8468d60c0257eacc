// The program's script on a memory console, with small archives made in the test.
#include "app/extraction.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <share.h>
#endif

#include "app/overwrite.h"
#include "platform/file_faults.h"
#include "testing/archive_helpers.h"
#include "testing/memory_console_helpers.h"
#include "testing/payload_helpers.h"
#include "testing/scratch_directory_fixture.h"

namespace {

/// The target name of the i-th entry, for the system's calls.
const char* target(size_t i) {
  return payload_entries[i].target_name;
}

constexpr uint16_t kScanJ = 0x24;
constexpr uint16_t kScanN = 0x31;
constexpr uint16_t kScanA = 0x1E;
constexpr uint16_t kScanX = 0x2D;
constexpr uint16_t kScanEnter = 0x1C;
constexpr uint16_t kScanF1 = 0x3B;

/// A compressed entry of the four bytes "aaaa".
std::string compressed(const std::string& block) {
  return entry(4, block);
}

/// Contents of the six entries of the test archive; the first one is a JC block.
const char* const kContents[] = {"aaaa", "second entry", "third", "fourth", "fifth", "text\r\n"};

std::string test_archive(const std::string& third = stored(kContents[2])) {
  return compressed(kExampleBlock) + stored(kContents[1]) + third + stored(kContents[3]) +
         stored(kContents[4]) + stored(kContents[5]);
}

class ExtractionTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    memory_console_init(&screen_, 80, 25, 80, 25);
    screen_.input_closed = true;  // an unexpected question reads the end, not a hang
    platform_console_install(&screen_);
  }
  void TearDown() override {
    platform_console_install(nullptr);
    ScratchDirectoryTest::TearDown();
  }

  /// Runs the program on `archive` with the program file in the scratch directory; a key
  /// for the final wait is queued behind `keys`.
  int run(const std::string& archive) {
    memory_console_push_key(&screen_, 'q', 0x10);
    const std::string program = in_scratch("entpacker");
    const auto* bytes = reinterpret_cast<const uint8_t*>(archive.data());
    const auto size = static_cast<uint32_t>(archive.size());
    return extraction_run(bytes, size, archive_digest_of(bytes, size), program.c_str());
  }
  void key(char c, uint16_t scan, bool down = true) {
    memory_console_push_key(&screen_, c, scan, down);
  }

  /// The screen's rows down to the last one with text.
  std::vector<std::string> transcript() const {
    std::vector<std::string> rows;
    for (int y = 0; y < 25; ++y) rows.push_back(memory_console_row(&screen_, y));
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }

  /// Every target but `except` holds its entry; with `archive_gone`, no "pactest.pac" is
  /// left either.
  void expect_all_written(size_t except = 99, bool archive_gone = true) {
    for (size_t i = 0; i < 6; ++i) {
      if (i != except) {
        EXPECT_EQ(read_file(target(i)), kContents[i]) << target(i);
      }
    }
    if (archive_gone) {
      EXPECT_FALSE(exists("pactest.pac"));
    }
  }

  MemoryConsole screen_;
};

const std::vector<std::string> kCleanRun = clean_run_lines();

std::vector<std::string> with_question_after(size_t row, std::vector<std::string> rows) {
  rows.insert(rows.begin() + static_cast<long>(row) + 2, kOverwriteQuestion);
  return rows;
}

}  // namespace

TEST_F(ExtractionTest, ARunWithNoFilesExtractsAllSixWithoutAQuestion) {
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), kCleanRun);
  expect_all_written();
  EXPECT_TRUE(screen_.input.empty());  // the final wait took its key
}

TEST_F(ExtractionTest, TheFilesGoToTheProgramDirectoryWhateverTheCurrentOne) {
  ASSERT_EQ(mkdir("start", 0755), 0);
  ASSERT_EQ(chdir("start"), 0);
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), kCleanRun);
  expect_all_written();
  EXPECT_EQ(read_file("start/pactest.pac"), "<missing>");
  EXPECT_EQ(read_file("start/" + std::string(target(0))), "<missing>");
}

TEST_F(ExtractionTest, AnExistingSecondTargetAnsweredNKeepsItAndTheOthersAreWritten) {
  write_file(target(1), "old");
  key('n', kScanN);
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), with_question_after(1, kCleanRun));
  EXPECT_EQ(read_file(target(1)), "old");
  expect_all_written(1);
}

TEST_F(ExtractionTest, AnswerJOverwritesAndAnswerAAsksNoMore) {
  write_file(target(1), "an old and much longer content");
  key('J', kScanJ);
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  expect_all_written();

  memory_console_init(&screen_, 80, 25, 80, 25);
  screen_.input_closed = true;
  key('A', kScanA);  // every file exists now: one question, at the first row
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), with_question_after(0, kCleanRun));
  expect_all_written();
}

TEST_F(ExtractionTest, OtherKeysAndReleasesAreIgnoredUntilAnAnswer) {
  write_file(target(1), "old");
  key('x', kScanX);
  key('x', kScanX, false);
  key('\r', kScanEnter);
  key(0, kScanF1);
  memory_console_push_event(&screen_, kMouseEvent);
  key('j', kScanJ);
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), with_question_after(1, kCleanRun));
  expect_all_written();
}

TEST_F(ExtractionTest, EmptyTargetsAreWrittenWithoutAQuestion) {
  write_file(target(2), "");
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(transcript(), kCleanRun);
  expect_all_written();
}

TEST_F(ExtractionTest, ATargetThatCannotBeCreatedFailsAloneAndTheRunReportsIt) {
  ASSERT_EQ(mkdir(target(2), 0755), 0);
#ifndef _WIN32
  ASSERT_EQ(symlink("elsewhere", target(4)), 0);  // a name that exists: asked about
#else
  write_file(target(4), "old");  // asked about, then found in use by another program
  FILE* in_use = _fsopen(target(4), "rb", _SH_DENYRW);
  ASSERT_NE(in_use, nullptr);
#endif
  key('j', kScanJ);
  EXPECT_EQ(run(test_archive()), kExitFailure);
  std::vector<std::string> expected = with_question_after(4, kCleanRun);
  expected.insert(expected.begin() + 7, kExtractionFailed);
  expected.insert(expected.begin() + 4, kExtractionFailed);
  expected[11] = kExtractionFailed;
  EXPECT_EQ(transcript(), expected);
#ifndef _WIN32
  EXPECT_EQ(read_file("elsewhere"), "<missing>");  // nothing written through the link
#else
  std::fclose(in_use);
  EXPECT_EQ(read_file(target(4)), "old");
#endif
  for (size_t i : {0, 1, 3, 5}) EXPECT_EQ(read_file(target(i)), kContents[i]);
  EXPECT_EQ(access("pactest.pac", F_OK), -1);
}

TEST_F(ExtractionTest, AReadOnlyTargetCannotBeEmptied) {
  write_file(target(3), "");
  ASSERT_EQ(chmod(target(3), 0444), 0);
  EXPECT_EQ(run(test_archive()), kExitFailure);
  EXPECT_EQ(transcript()[5], kExtractionFailed);
  EXPECT_EQ(read_file(target(3)), "");
}

TEST_F(ExtractionTest, ACorruptEntryLeavesItsTargetAsItWas) {
  write_file(target(2), "untouched");
  key('j', kScanJ);
  std::string bad = kExampleBlock;
  bad[8] ^= 1;  // checksum
  EXPECT_EQ(run(test_archive(compressed(bad))), kExitFailure);
  std::vector<std::string> expected = with_question_after(2, kCleanRun);
  expected.insert(expected.begin() + 5, kExtractionFailed);
  expected[10] = kExtractionFailed;
  EXPECT_EQ(transcript(), expected);
  EXPECT_EQ(read_file(target(2)), "untouched");
  expect_all_written(2);
}

TEST_F(ExtractionTest, AnArchiveNameTakenByAnotherFileIsLeftAloneAndAnotherNameUsed) {
  // A user's file, a link and another run's archive at the names: none is written to,
  // opened as the archive or removed.
  const std::string user_file = "user data, not an archive";
  write_file("pactest.pac", user_file);
#ifndef _WIN32
  write_file("stale.pac", test_archive(stored("stale")));
  ASSERT_EQ(symlink("stale.pac", "pactest-2.pac"), 0);
  ASSERT_EQ(link("pactest.pac", "pactest-3.pac"), 0);  // a hard link of the user's file
#else
  write_file("pactest-2.pac", test_archive(stored("stale")));
  FILE* in_use = _fsopen("pactest-2.pac", "rb", _SH_DENYRW);  // another run's, in use
  ASSERT_NE(in_use, nullptr);
  write_file("pactest-3.pac", user_file);
#endif
  EXPECT_EQ(run(test_archive()), kExitSuccess);
#if defined(_WIN32)
  std::fclose(in_use);
#endif
  EXPECT_EQ(transcript(), kCleanRun);
  expect_all_written(99, false);
  EXPECT_EQ(read_file("pactest.pac"), user_file);
  EXPECT_EQ(read_file("pactest-3.pac"), user_file);
  EXPECT_EQ(read_file("pactest-2.pac"), test_archive(stored("stale")));
  EXPECT_FALSE(exists("pactest-4.pac"));  // the run's own archive is gone
}

TEST_F(ExtractionTest, AnArchiveThatCannotBeWrittenWholeIsNeverOpened) {
  write_file(target(0), "old");
  platform_file_fail_writes_after(10);  // a full disk after ten bytes
  EXPECT_EQ(run(test_archive()), kExitFailure);
  platform_file_fail_writes_after(-1);
  const std::vector<std::string> expected = {kExtractionFailed, "", kClosingPrompt};
  EXPECT_EQ(transcript(), expected);
  EXPECT_EQ(read_file(target(0)), "old");
  EXPECT_EQ(read_file(target(1)), "<missing>");
  EXPECT_FALSE(exists("pactest.pac"));
}

/// Damage done to a good archive after its digest was taken.
struct Damage {
  const char* what;
  std::string (*apply)(std::string archive);
};

const Damage kDamages[] = {
    {"zeroed start", [](std::string a) { return a.replace(0, 48, std::string(48, '\0')); }},
    {"zeroed entry header", [](std::string a) { return a.replace(26, 8, std::string(8, '\0')); }},
    {"stored size shifted",
     [](std::string a) {
       a[30] = static_cast<char>(a[30] - 8);  // the second entry's stored size, 8 less
       return a;
     }},
    {"stored entry with a changed byte",
     [](std::string a) {
       a[34] ^= 0x20;
       return a;
     }},
    {"zero checksum with a changed body byte",
     [](std::string a) {
       a.replace(14, 4, std::string(4, '\0'));  // the first block's checksum field
       a[18] ^= 0x01;
       return a;
     }},
    {"cut short", [](std::string a) { return a.substr(0, a.size() - 1); }},
    {"one byte more", [](std::string a) { return a + "x"; }},
};

TEST_F(ExtractionTest, DamageAnywhereInTheArchiveStopsTheRunBeforeAnyFileIsTouched) {
  const std::string good = test_archive();
  const auto* good_bytes = reinterpret_cast<const uint8_t*>(good.data());
  const ArchiveDigest digest = archive_digest_of(good_bytes, static_cast<uint32_t>(good.size()));
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.what);
    for (size_t i = 0; i < 6; ++i) write_file(target(i), "old " + std::to_string(i));
    memory_console_init(&screen_, 80, 25, 80, 25);
    screen_.input_closed = true;
    const std::string damaged = damage.apply(good);
    ASSERT_NE(damaged, good);
    memory_console_push_key(&screen_, 'a', kScanA);  // an answer that would write them all
    memory_console_push_key(&screen_, 'q', 0x10);
    const std::string program = in_scratch("entpacker");
    EXPECT_EQ(extraction_run(reinterpret_cast<const uint8_t*>(damaged.data()),
                             static_cast<uint32_t>(damaged.size()), digest, program.c_str()),
              kExitFailure);
    const std::vector<std::string> expected = {kExtractionFailed, "", kClosingPrompt};
    EXPECT_EQ(transcript(), expected);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(read_file(target(i)), "old " + std::to_string(i));
    EXPECT_FALSE(exists("pactest.pac"));
  }
}

TEST_F(ExtractionTest, AWriteThatFailsKeepsTheOldFileAndTheRunGoesOn) {
  for (size_t i = 0; i < 6; ++i) write_file(target(i), "old " + std::to_string(i));
#ifndef _WIN32
  ASSERT_EQ(chmod(target(1), 0640), 0);
#endif
  key('a', kScanA);
  // The archive takes its bytes first; then "aaaa" and four bytes of the second entry fit.
  platform_file_fail_writes_after(static_cast<int64_t>(test_archive().size()) + 4 + 4);
  EXPECT_EQ(run(test_archive()), kExitFailure);
  platform_file_fail_writes_after(-1);
  std::vector<std::string> expected = with_question_after(0, kCleanRun);
  for (long row : {8, 7, 6, 5, 4}) expected.insert(expected.begin() + row, kExtractionFailed);
  expected[14] = kExtractionFailed;
  EXPECT_EQ(transcript(), expected);
  EXPECT_EQ(read_file(target(0)), "aaaa");
  for (size_t i = 1; i < 6; ++i) EXPECT_EQ(read_file(target(i)), "old " + std::to_string(i));
  // Nothing but the targets is left: no new file, no archive.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(directory_)) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 6u);

  // Given room again, the next run replaces them, each keeping its permission bits.
  memory_console_init(&screen_, 80, 25, 80, 25);
  screen_.input_closed = true;
  key('a', kScanA);
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  expect_all_written();
#ifndef _WIN32
  struct stat info;
  ASSERT_EQ(stat(target(1), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

#ifndef _WIN32
TEST_F(ExtractionTest, FifosAtATargetOrTheArchiveNameAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo("pactest.pac", 0644), 0);
  ASSERT_EQ(mkfifo(target(3), 0644), 0);
  EXPECT_EQ(run(test_archive()), kExitFailure);
  std::vector<std::string> expected = kCleanRun;
  expected.insert(expected.begin() + 5, kExtractionFailed);
  expected[9] = kExtractionFailed;
  EXPECT_EQ(transcript(), expected);
  struct stat info;
  ASSERT_EQ(lstat(target(3), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(lstat("pactest.pac", &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  expect_all_written(3, false);
  EXPECT_FALSE(exists("pactest-2.pac"));
}
#endif

TEST_F(ExtractionTest, TheEndOfTheInputAnswersNo) {
  write_file(target(0), "old");
  EXPECT_EQ(run(test_archive()), kExitSuccess);
  EXPECT_EQ(read_file(target(0)), "old");
  expect_all_written(0);
}

TEST_F(ExtractionTest, AnArchiveThatDoesNotOpenAsAPackIsReported) {
  // The first entry claims more data than there are: nothing is delivered at all.
  EXPECT_EQ(run(u32(4) + u32(1000) + "JC"), kExitFailure);
  EXPECT_EQ(transcript()[0], "pac datei erfolgreich geoeffnet");
  EXPECT_EQ(transcript()[2], kExtractionFailed);
  EXPECT_EQ(access("pactest.pac", F_OK), -1);
  EXPECT_EQ(read_file(target(0)), "<missing>");
}
