// The program with a named archive appended to its file, run on a memory console: round
// trips, the options, hostile names and damaged archives. Links, executable bits and names
// beyond the Windows path limit are looked at on POSIX systems only.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/console_report.h"
#include "app/dialogue.h"
#include "app/display_name.h"
#include "app/extraction.h"
#include "app/front_end.h"
#include "app/options.h"
#include "app/overwrite.h"
#include "app/payload_table.h"
#include "app/progress_line.h"
#include "app/target_writer.h"
#include "platform/file.h"
#include "platform/file_faults.h"
#include "testing/archive_helpers.h"
#include "testing/memory_console_helpers.h"
#include "testing/scratch_directory_fixture.h"
#include "testing/self_extractor_helpers.h"

namespace {

/// The dialogue's text, as the program under test speaks it.
std::string T(Text text) {
  return dialogue_text(text);
}

/// Stands for the run's first line in a transcript.
const std::string kSummary = "(the run's first line)";

/// A UTF-8 name as this program's console shows it.
std::string shown(const std::string& name) {
  char out[512];
  dialogue_show_name(reinterpret_cast<const uint8_t*>(name.data()), name.size(), out, sizeof out);
  return out;
}

constexpr uint16_t kScanN = 0x31;
constexpr uint16_t kScanQ = 0x10;
constexpr char kProgram[] = "program";
/// Bytes standing for the stub's code in front of the archive.
const std::string kStubBytes =
    "\x7F"
    "ELF stub code " +
    std::string(3000, 'c');

/// A built-in archive of six stored entries, as the program carries one.
const std::string kBuiltIn = stored("one") + stored("two") + stored("three") + stored("four") +
                             stored("five") + stored("six\r\n");

/// A 3 MB binary: bytes that compress, with stretches that do not.
std::string binary_content() {
  std::string content(3 * 1024 * 1024, '\0');
  uint32_t state = 12345;
  for (size_t i = 0; i < content.size(); ++i) {
    state = state * 1103515245u + 12345u;
    content[i] = (i / 4096) % 3 == 0 ? char(state >> 24) : char(i % 251);
  }
  return content;
}

const std::vector<ArchiveFile>& round_trip_files() {
  static const std::vector<ArchiveFile> files = {
      archive_folder("Dokumente", 1400000000),
      {"Dokumente/Unter Ordner/Brief an Oma.txt", "Liebe Oma,\n", 1300000000},
      {"\xC3\x9C"
       "bersicht.txt",
       "Inhalt", 1200000000},  // Übersicht.txt
      {"Gr\xC3\xBC\xC3\x9F"
       "e/\xE2\x82\xAC.txt",
       "Euro", 1100000000},                                 // Grüße/€.txt
      {"\xE6\x96\x87\xE6\x9B\xB8.txt", "CJK", 1000000000},  // 文書.txt
      {"leer.txt", "", 900000000},
      archive_folder("leerer Ordner", 800000000),
      {"bin/daten.bin", binary_content(), 700000000},
      {"bin/start.sh", "#!/bin/sh\necho hallo\n", 600000000, kNamedEntryExecutable},
  };
  return files;
}

class SelfExtractorTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    reset_screen();
    platform_console_install(&screen_);
  }
  void TearDown() override {
    platform_console_install(nullptr);
    ScratchDirectoryTest::TearDown();
  }

  void reset_screen() {
    memory_console_init(&screen_, 100, 60, 100, 60);
    screen_.input_closed = true;
  }

  /// Writes the program file: stub bytes with `archive` appended.
  void make_program(const std::string& archive) { write_file(kProgram, kStubBytes + archive); }

  /// Runs the program file with `arguments`; a key for a closing wait is queued first.
  int run(const std::vector<std::string>& arguments, const std::string& built_in = kBuiltIn) {
    memory_console_push_key(&screen_, 'q', kScanQ);
    std::vector<const char*> list;
    for (const std::string& argument : arguments) list.push_back(argument.c_str());
    const std::string program = in_scratch(kProgram);
    const auto* bytes = reinterpret_cast<const uint8_t*>(built_in.data());
    const auto size = static_cast<uint32_t>(built_in.size());
    // The run makes the folder it extracts into current; the test goes on where it was.
    const std::string here = current_directory();
    const int code =
        extraction_run_with_arguments(bytes, size, archive_digest_of(bytes, size), program.c_str(),
                                      static_cast<int>(list.size()), list.data());
    EXPECT_EQ(chdir(here.c_str()), 0);
    return code;
  }

  /// The screen's rows, the run's first line ("Extracting 3 files, ... into DIR", the
  /// built-in program's archive opened line) as kSummary.
  std::vector<std::string> transcript() const {
    std::vector<std::string> rows;
    for (int y = 0; y < 60; ++y) {
      rows.push_back(memory_console_row(&screen_, y));
      const bool first = front_end_self_extractor()
                             ? rows.back().rfind(T(Text::extracting) + " ", 0) == 0
                             : rows.back() == kArchiveOpened;
      if (first) rows.back() = kSummary;
    }
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }

  bool waited() const { return screen_.input.empty(); }

  /// Every name in the scratch directory and below, folders ending in '/', the program
  /// left out.
  std::vector<std::string> tree(const std::string& root = ".") const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      std::string name = e.path().lexically_relative(root).generic_string();
      if (name == kProgram) continue;
      if (e.is_directory() && !e.is_symlink()) name += "/";
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  /// Every file and folder of round_trip_files() holds its content, time and mode in `root`
  /// (looked at through the file system library, which takes UTF-8 names on Windows too).
  static void expect_round_trip(const std::string& root) {
    namespace fs = std::filesystem;
    for (const ArchiveFile& file : round_trip_files()) {
      SCOPED_TRACE(file.path);
      const std::string name = root + "/" + file.path;
      const fs::path path(std::u8string(name.begin(), name.end()));
      std::error_code error;
      const fs::file_status status = fs::symlink_status(path, error);
      ASSERT_TRUE(fs::exists(status));
      const auto time = fs::last_write_time(path, error);
      EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::file_clock::to_sys(time).time_since_epoch())
                    .count(),
                file.mtime);
      EXPECT_EQ(fs::is_directory(status), (file.flags & kNamedEntryDirectory) != 0);
      if (file.flags & kNamedEntryDirectory) continue;
      std::ifstream in(path, std::ios::binary);
      const std::string content((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
      EXPECT_EQ(content, file.content);
#ifndef _WIN32
      EXPECT_EQ((status.permissions() & fs::perms::owner_exec) != fs::perms::none,
                (file.flags & kNamedEntryExecutable) != 0);
#endif
    }
  }

  MemoryConsole screen_;
};

/// The little-endian u64 at `at` of `bytes`.
size_t le_value(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
  return static_cast<size_t>(value);
}

std::vector<std::string> announced(const std::vector<std::string>& names, bool failed = false) {
  std::vector<std::string> lines = {kSummary};
  for (const std::string& name : names) lines.push_back(T(Text::announce) + name + "'");
  lines.push_back("");
  lines.push_back(T(failed ? Text::run_failed : Text::done));
  return lines;
}

}  // namespace

TEST_F(SelfExtractorTest, ARunWithoutArgumentsExtractsEveryFileFolderTimeAndModeInPlace) {
  make_program(named_archive_of(round_trip_files()));
  EXPECT_EQ(run({}), kExitSuccess);
  std::vector<std::string> expected =
      announced({"Dokumente", "Dokumente/Unter Ordner/Brief an Oma.txt", shown("Übersicht.txt"),
                 shown("Grüße/€.txt"), shown("文書.txt"), "leer.txt", "leerer Ordner",
                 "bin/daten.bin", "bin/start.sh"});
  expected.insert(expected.end(), {"", T(Text::closing_prompt)});
  EXPECT_EQ(transcript(), expected);
  EXPECT_TRUE(waited());
  expect_round_trip(".");
  // Nothing else: no temporary archive, no new files left over.
  EXPECT_EQ(tree().size(), 12u);
}

TEST_F(SelfExtractorTest, AnExistingFileIsAskedAboutWhileYesAndNoOverwriteDecideAlone) {
  const std::vector<ArchiveFile> files = {{"a.txt", "new a"}, {"b.txt", "new b"}};
  make_program(named_archive_of(files));
  write_file("a.txt", "old a");
  write_file("b.txt", "");  // empty: written without a question, but kept by -n

  memory_console_push_key(&screen_, 'n', kScanN);
  EXPECT_EQ(run({}), kExitSuccess);
  EXPECT_EQ(transcript()[2], T(Text::overwrite_question));
  EXPECT_EQ(read_file("a.txt"), "old a");
  EXPECT_EQ(read_file("b.txt"), "new b");

  write_file("b.txt", "");
  reset_screen();
  EXPECT_EQ(run({"--no-overwrite", "--no-wait"}), kExitSuccess);
  EXPECT_EQ(transcript(), announced({"a.txt", "b.txt"}));
  EXPECT_FALSE(waited());
  EXPECT_EQ(read_file("a.txt"), "old a");
  EXPECT_EQ(read_file("b.txt"), "");

  reset_screen();
  EXPECT_EQ(run({"-y"}), kExitSuccess);
  EXPECT_EQ(transcript(), announced({"a.txt", "b.txt"}));
  EXPECT_FALSE(waited());
  EXPECT_EQ(read_file("a.txt"), "new a");
  EXPECT_EQ(read_file("b.txt"), "new b");
}

TEST_F(SelfExtractorTest, OutputGoesToTheFolderGivenAndItsParentsAreMade) {
  make_program(named_archive_of(round_trip_files()));
  ASSERT_EQ(mkdir("start", 0755), 0);
  ASSERT_EQ(chdir("start"), 0);
  EXPECT_EQ(run({"-o", "ziel/tief", "--no-wait"}), kExitSuccess);
  ASSERT_EQ(chdir(directory_.c_str()), 0);
  expect_round_trip("start/ziel/tief");
  EXPECT_EQ(tree().size(), 15u);  // start/, start/ziel/, start/ziel/tief/ and 12 names

  for (const std::string form : {"-oanders", "--output=drittes"}) {
    reset_screen();
    EXPECT_EQ(run({form, "-y"}), kExitSuccess) << form;
  }
  EXPECT_EQ(read_file("anders/bin/start.sh"), round_trip_files()[8].content);
  EXPECT_EQ(read_file("drittes/leer.txt"), "");
}

TEST_F(SelfExtractorTest, ListAndTestReadEveryEntryAndWriteNothing) {
  make_program(named_archive_of(
      {{"a.txt", std::string(1000, 'a')}, archive_folder("ordner"), {"ordner/b.txt", "bbb"}}));
  EXPECT_EQ(run({"--list"}), kExitSuccess);
  const std::vector<std::string> rows = transcript();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], T(Text::list_header));
  EXPECT_EQ(rows[1].substr(0, 12), "        1000");
  EXPECT_NE(rows[1].find("  a.txt"), std::string::npos);
  // The entries share their blocks: none has a stored size of its own.
  EXPECT_NE(rows[2].find("           0            -  ordner/"), std::string::npos);
  EXPECT_NE(rows[3].find("           3            -  ordner/b.txt"), std::string::npos);
  EXPECT_EQ(rows[4].substr(0, 12), "        1003");
  EXPECT_NE(rows[4].find("3 " + T(Text::list_total)), std::string::npos);
  EXPECT_FALSE(waited());

  reset_screen();
  EXPECT_EQ(run({"-t"}), kExitSuccess);
  const std::vector<std::string> expected = {
      T(Text::test_ok) + "a.txt", T(Text::test_ok) + "ordner", T(Text::test_ok) + "ordner/b.txt",
      "", T(Text::test_done)};
  EXPECT_EQ(transcript(), expected);
  EXPECT_TRUE(tree().empty());
}

TEST_F(SelfExtractorTest, ADamagedArchiveStopsEveryModeBeforeAnythingIsTouched) {
  const std::string good = named_archive_of(round_trip_files());
  struct Damage {
    const char* what;
    std::string archive;
  };
  std::string byte_changed = good;
  byte_changed[good.size() / 2] ^= 0x10;  // inside the 3 MB entry
  std::string table_changed = good;
  table_changed[good.size() - kNamedArchiveTrailerSize - 3] ^= 0x01;
  std::string trailer_changed = good;
  trailer_changed[good.size() - 20] ^= 0x01;
  const Damage damages[] = {
      {"a byte of an entry", byte_changed},
      {"a byte of the table", table_changed},
      {"a byte of the trailer", trailer_changed},
      {"an entry short of the count",
       named_archive_by_hand(stored("x"), table_record("a") + table_record("b"), 2)},
      {"a folder with content",
       named_archive_by_hand(stored("x"), table_record("d", kNamedEntryDirectory), 1)},
      {"a byte between the entries and the table",
       named_archive_by_hand(stored("x") + "!", table_record("a"), 1)},
  };
  write_file("leer.txt", "old");
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    make_program(damage.archive);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"-y"}, {"--test"}, {"--list"}}) {
      reset_screen();
      memory_console_push_key(&screen_, 'a', 0x1E);  // an answer that would write everything
      EXPECT_EQ(run(arguments), kExitFailure);
      EXPECT_EQ(transcript()[0].rfind(T(Text::failed) + kReasonSeparator, 0), 0u);
    }
    EXPECT_EQ(tree(), std::vector<std::string>{"leer.txt"});
    EXPECT_EQ(read_file("leer.txt"), "old");
  }
}

TEST_F(SelfExtractorTest, HostileNamesRefuseTheWholeArchiveAndEachIsNamed) {
  ASSERT_EQ(mkdir("ziel", 0755), 0);
  ASSERT_EQ(mkdir("draussen", 0755), 0);
#ifndef _WIN32
  ASSERT_EQ(symlink("../draussen", "ziel/link"), 0);
#else
  write_file("ziel/link", "a file where a folder is needed");
#endif
  write_file("ziel/datei", "a file where a folder is needed");
  const std::vector<std::string> names = {
      "gut1.txt", "../raus.txt", "/tmp/absolut.txt", "C:/laufwerk.txt", "a/../../raus2.txt",
      "NUL.txt",  "com1",        "link/durch.txt",   "datei/drin.txt",  "punkt.",
      "a\\b.txt", "gut1.txt",    "GUT1.TXT",         "gut2.txt",
  };
  std::string entries;
  std::string table;
  for (const std::string& name : names) {
    entries += stored("inhalt " + name);
    table += table_record(name);
  }
  make_program(named_archive_by_hand(entries, table, static_cast<uint32_t>(names.size())));
  const std::string refusal = T(Text::failed) + kReasonSeparator;
#if defined(_WIN32)
  const size_t refused = 10;  // the name that differs only in case too
#else
  const size_t refused = 9;
#endif
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-y", "-o", "ziel"}, {"--test"}, {"--list"}}) {
    reset_screen();
    EXPECT_EQ(run(arguments), kExitFailure);
    // Each refused name gets its own line; nothing is announced, written or asked.
    size_t failures = 0;
    for (const std::string& row : transcript()) {
      failures += row.rfind(refusal, 0) == 0;
      EXPECT_EQ(row.find(T(Text::announce)), std::string::npos) << row;
    }
    EXPECT_EQ(failures, refused) << arguments[0];
  }
  EXPECT_TRUE(std::filesystem::is_empty("draussen"));
  EXPECT_EQ(tree("."), (std::vector<std::string>{"draussen/", "ziel/", "ziel/datei", "ziel/link"}));
}

#ifndef _WIN32
TEST_F(SelfExtractorTest, NamesOfTheLongestPartsAndOfTheLongestWholeAreWritten) {
  const std::string part(255, 'n');
  // Three parts of 255 bytes, one of 254 and one of 1: 1,024 bytes in all.
  const std::string folder(255, 'f');
  const std::string deep = folder + "/" + folder + "/" + folder + "/" + part.substr(1) + "/e";
  ASSERT_EQ(deep.size(), kEntryNameMaxSize);
  make_program(named_archive_of({{part, "part"}, {"d/" + part, "in d"}, {deep, "deep"}}));
  write_file(part, "old");
  EXPECT_EQ(run({"-y"}), kExitSuccess) << transcript().back();
  EXPECT_EQ(read_file(part), "part");
  EXPECT_EQ(read_file("d/" + part), "in d");
  EXPECT_EQ(read_file(deep), "deep");
}
#endif

TEST_F(SelfExtractorTest, TheListShowsSizesAndTotalsBeyondFourGigabytes) {
  // Blocks that state their sizes without making them: listing reads only the headers.
  std::string block = kExampleBlock;
  block.replace(2, 4, u32(UINT32_MAX));
  const std::string entries = entry(UINT32_MAX, block) + entry(UINT32_MAX, block) + stored("");
  const std::string table = table_record("a") + table_record("b") + table_record("c");
  make_program(named_archive_by_hand(entries, table, 3));
  EXPECT_EQ(run({"--list"}), kExitSuccess);
  const std::vector<std::string> expected = {
      T(Text::list_header), "  4294967295           18  a", "  4294967295           18  b",
      "           0            0  c", "  8589934590           36  3 " + T(Text::list_total)};
  EXPECT_EQ(transcript(), expected);
}

TEST_F(SelfExtractorTest, ABlockThatCannotMakeItsStatedSizeFailsAlone) {
  // A JC block stating 3 GB whose stream ends at once, and a good entry after it.
  std::string block = kExampleBlock;
  block.replace(2, 4, u32(3000000000u));
  const std::string entries = entry(3000000000u, block) + stored("gut");
  const std::string table = table_record("riesig.bin") + table_record("gut.txt");
  make_program(named_archive_by_hand(entries, table, 2));
  EXPECT_EQ(run({"-y"}), kExitFailure);
  EXPECT_EQ(read_file("riesig.bin"), "<missing>");
  EXPECT_EQ(read_file("gut.txt"), "gut");
  reset_screen();
  EXPECT_EQ(run({"--test"}), kExitFailure);
  EXPECT_EQ(transcript()[0], T(Text::test_failed) + "riesig.bin");
  EXPECT_EQ(transcript()[1], T(Text::test_ok) + "gut.txt");
}

TEST_F(SelfExtractorTest, TheBuiltInArchiveServesEveryOptionWhenNothingIsAppended) {
  write_file(kProgram, kStubBytes);
  EXPECT_EQ(run({"--list"}), kExitSuccess);
  EXPECT_EQ(transcript().size(), 8u);
  EXPECT_NE(transcript()[7].find("6 " + T(Text::list_total)), std::string::npos);

  reset_screen();
  EXPECT_EQ(run({"--test"}), kExitSuccess);
  EXPECT_EQ(transcript().back(), T(Text::test_done));

  reset_screen();
  EXPECT_EQ(run({"-o", "aus", "--no-wait"}), kExitSuccess);
  EXPECT_EQ(read_file("aus/" + std::string(payload_entries[5].target_name)), "six\r\n");
  EXPECT_EQ(tree("aus").size(), 6u);
  EXPECT_EQ(read_file("pactest.pac"), "<missing>");
}

TEST_F(SelfExtractorTest, WithoutAnyArchiveTheStubSaysSoInOneLine) {
  write_file(kProgram, kStubBytes);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{}, {"--list"}, {"-y"}}) {
    reset_screen();
    EXPECT_EQ(run(arguments, ""), kExitFailure);
    EXPECT_EQ(transcript(), std::vector<std::string>{T(Text::no_archive)});
  }
  reset_screen();
  EXPECT_EQ(run({"--version"}, ""), kExitSuccess);
  EXPECT_EQ(transcript(), std::vector<std::string>{kProgramVersion});
  EXPECT_TRUE(tree().empty());
}

TEST_F(SelfExtractorTest, WrongArgumentsWriteNothingAndEndWithTheUsageCode) {
  make_program(named_archive_of({{"a.txt", "a"}}));
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--unbekannt"}, {"-o"}, {"-y", "-n"}, {"--list", "--test"}, {"datei"}, {"-o", ""}}) {
    reset_screen();
    EXPECT_EQ(run(arguments), kExitUsage) << arguments[0];
    EXPECT_TRUE(transcript().empty());
  }
  EXPECT_TRUE(tree().empty());
}

TEST_F(SelfExtractorTest, ArchivesChangedBehindRightChecksNeverWriteOutsideTheirFolder) {
  // Entries and table of a small archive of each version, bytes changed at random, then
  // given a trailer whose checks are right again, as a hostile writer would.
  const std::vector<ArchiveFile> files = {
      archive_folder("d"), {"d/a.txt", std::string(300, 'a') + "xyz"}, {"b", "bb"}, {"c", ""}};
  ASSERT_EQ(mkdir("ziel", 0755), 0);
  for (const uint32_t version : {kNamedArchiveVersion1, kNamedArchiveVersion2}) {
    SCOPED_TRACE(version);
    const std::string good = version == kNamedArchiveVersion1 ? named_archive_v1_of(files)
                                                              : named_archive_of(files, false, 100);
    const size_t table_size = le_value(good, good.size() - kNamedArchiveTrailerSize + 16);
    const size_t entries_size = le_value(good, good.size() - kNamedArchiveTrailerSize + 24);
    ASSERT_EQ(entries_size + table_size + kNamedArchiveTrailerSize, good.size());
    uint32_t state = 7;
    const char kTricky[] = {'/', '.', '\\', ':', '\0'};
    int extracted = 0;  // rounds whose archive passed the checks as a whole
    for (int round = 0; round < 300; ++round) {
      std::string parts = good.substr(0, entries_size + table_size);
      for (int change = 0; change < 1 + round % 4; ++change) {
        state = state * 1103515245u + 12345u;
        const size_t at = (state >> 8) % parts.size();
        state = state * 1103515245u + 12345u;
        parts[at] = static_cast<char>(round % 3 == 0 ? kTricky[(state >> 16) % 5] : state >> 16);
      }
      const uint32_t crc =
          crc32_update(0, reinterpret_cast<const uint8_t*>(parts.data()), parts.size());
      make_program(parts + trailer_by_hand({version, 4, table_size, entries_size, crc}));
      reset_screen();
      const int code = run({"-y", "-o", "ziel"});
      EXPECT_TRUE(code == kExitSuccess || code == kExitFailure) << round;
      extracted += transcript()[0] == kSummary;
      for (const std::string& name : tree())
        ASSERT_EQ(name.rfind("ziel/", 0), 0u) << "round " << round << ": " << name;
    }
    EXPECT_GT(extracted, 50);  // about half of them
  }
}

TEST_F(SelfExtractorTest, ATrailerCutShortIsNoArchiveAndTheStubWritesNothing) {
  const std::string good = named_archive_of({{"a.txt", "a"}});
  make_program(good.substr(0, good.size() - 1));
  EXPECT_EQ(run({}, ""), kExitFailure);
  EXPECT_EQ(transcript(), std::vector<std::string>{T(Text::no_archive)});
  EXPECT_TRUE(tree().empty());
}

// ---- Where the files of an entry are made -------------------------------------------------

TEST_F(SelfExtractorTest, SiblingFoldersThatShareAPrefixGetTheirOwnFiles) {
  // Back and forth between folders whose names start alike: each file lands in its own.
  const std::vector<ArchiveFile> files = {
      {"a/b/x.txt", "x"}, {"a/bb/y.txt", "y"}, {"a/b/z.txt", "z"}, {"a/bb/c/w.txt", "w"}};
  make_program(named_archive_of(files));
  EXPECT_EQ(run({"-y", "-o", "ziel"}), kExitSuccess);
  EXPECT_EQ(tree("ziel"), (std::vector<std::string>{"a/", "a/b/", "a/b/x.txt", "a/b/z.txt", "a/bb/",
                                                    "a/bb/c/", "a/bb/c/w.txt", "a/bb/y.txt"}));
  for (const ArchiveFile& file : files) EXPECT_EQ(read_file("ziel/" + file.path), file.content);
}

#ifndef _WIN32
TEST_F(SelfExtractorTest, TheNewFileForALongLastPartIsMadeInItsTargetsFolder) {
  // Every name such a new file could have in the output folder is taken by a file of the
  // user's: entries in folders are written all the same, and the user's files are kept.
  std::vector<std::string> taken;
  for (uint32_t number = 1; number <= kMaxNameNumber; ++number) {
    taken.push_back(std::string("entpacker") + kPartFileSeparator + std::to_string(number) +
                    kPartFileExtension);
    write_file(taken.back(), "user");
  }
  const std::string part(255, 'n');
  make_program(named_archive_of({{"d/" + part, "in d"}, {"d/e/" + part, "in e"}}));
  ASSERT_EQ(mkdir("d", 0755), 0);
  write_file("d/" + part, "old");
  EXPECT_EQ(run({"-y"}), kExitSuccess) << transcript().back();
  EXPECT_EQ(read_file("d/" + part), "in d");
  EXPECT_EQ(read_file("d/e/" + part), "in e");
  for (const std::string& name : taken) EXPECT_EQ(read_file(name), "user") << name;
  EXPECT_EQ(tree().size(), taken.size() + 4);
}
#endif

TEST_F(SelfExtractorTest, ATargetThatCannotBeReadIsAskedAboutAndKept) {
  // A file that cannot be looked into may well have content: held open without sharing
  // (which stops the superuser too), and on POSIX one its owner may write but not read.
  make_program(named_archive_of({{"a.txt", "new"}}));
  for (const bool held : {true, false}) {
#ifndef _WIN32
    if (!held && geteuid() == 0) continue;  // the superuser reads it all the same
#else
    if (!held) continue;
#endif
    SCOPED_TRACE(held ? "held open" : "not readable");
    reset_screen();
    std::filesystem::remove("a.txt");
    write_file("a.txt", "old");
    PlatformFile file = kPlatformInvalidFile;
    if (held) {
      file = platform_file_open("a.txt", kFileAccessRead | kFileAccessWrite, kFileShareNone,
                                FileDisposition::kOpenExisting);
      ASSERT_NE(file, kPlatformInvalidFile);
    } else {
      std::filesystem::permissions("a.txt", std::filesystem::perms::owner_write);
    }
    memory_console_push_key(&screen_, 'n', kScanN);
    EXPECT_EQ(run({}), kExitSuccess);
    if (held) platform_file_close(file);
    EXPECT_EQ(transcript()[2], T(Text::overwrite_question));
    std::filesystem::permissions("a.txt", std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(read_file("a.txt"), "old");
  }
}

// Every message a publisher's user meets when a run fails, word for word in both languages
// (the built-in program's set speaks German alone).
TEST_F(SelfExtractorTest, FailuresSayWhyWordForWordInTheArchivesLanguage) {
  struct Row {
    const char* code;
    const char* damaged;
    const char* no_space;
    const char* failed_entry;
    const char* last;
  };
  const Row languages[] = {
      {"en", "Error: archive damaged (checksum mismatch): download it again",
       "Error: not enough space: 2.5 kB needed, 1.0 kB available (--no-space-check skips this "
       "check)",
       "Error: no space left on the device: 'b.bin'", "Extraction failed."},
      {"de", "FEHLER Entpacken: Archiv beschaedigt (Pruefsumme falsch): bitte neu herunterladen",
       "FEHLER Entpacken: nicht genug Platz: 2,5 kB noetig, 1,0 kB frei (--no-space-check prueft "
       "nicht)",
       "FEHLER Entpacken: kein Platz auf dem Datentraeger: 'b.bin'", "FEHLER Entpacken"},
  };
  const std::vector<ArchiveFile> files = {{"a.txt", "klein"}, {"b.bin", std::string(2500, 'b')}};
  for (const Row& language : languages) {
    const std::string archive = named_archive_of(
        files, false, kTestBlockSize,
        {{kNamedSettingTitle, "My App 1.0"}, {kNamedSettingLanguage, language.code}});
    make_program(archive);
    dialogue_set_language(Language::english);
    if (dialogue_language() == Language::english || std::string(language.code) == "de") {
      // Damaged: nothing written.
      std::string damaged = archive;
      damaged[damaged.size() - 60] ^= 0x01;
      make_program(damaged);
      reset_screen();
      EXPECT_EQ(run({"-y"}), kExitFailure);
      EXPECT_EQ(transcript(), std::vector<std::string>{language.damaged}) << language.code;
      // Too large for the disk: refused before anything is written, with both figures (the
      // built-in program's set does not check).
      if (!front_end_self_extractor()) continue;
      make_program(archive);
      platform_file_fake_free_space(1000);
      reset_screen();
      EXPECT_EQ(run({"-y", "-q"}), kExitFailure);
      EXPECT_EQ(transcript(), (std::vector<std::string>{language.no_space, "", language.last}))
          << language.code;
      EXPECT_TRUE(tree().empty());
      // Without the check, the disk fills up during the write: the entry is named, and the
      // file that did not fit is not left behind.
      platform_file_fail_writes_after(100);
      reset_screen();
      EXPECT_EQ(run({"-y", "-q", "--no-space-check"}), kExitFailure);
      platform_file_fail_writes_after(-1);
      platform_file_fake_free_space(-1);
      EXPECT_EQ(transcript(), (std::vector<std::string>{language.failed_entry, "", language.last}))
          << language.code;
      EXPECT_EQ(tree(), std::vector<std::string>{"a.txt"});
      std::remove("a.txt");
    }
  }
}

TEST_F(SelfExtractorTest, TheTitleOpensTheRunTheHelpAndTheVersion) {
  if (!front_end_self_extractor()) GTEST_SKIP() << "the built-in program shows no title";
  make_program(named_archive_of({{"a.txt", "abc"}}, false, kTestBlockSize,
                                {{kNamedSettingTitle, "My App 1.0"}}));
  EXPECT_EQ(run({"-y", "-o", "out"}), kExitSuccess);
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  const std::string into = std::string(here) + kPathSeparator + "out";
  EXPECT_EQ(memory_console_row(&screen_, 0), "My App 1.0: 1 " + T(Text::file) + ", 3 " +
                                                 T(Text::bytes) + ", " + T(Text::into) + " " +
                                                 into);
  reset_screen();
  EXPECT_EQ(run({"--help"}), kExitSuccess);
  EXPECT_EQ(transcript()[0], "My App 1.0");
  EXPECT_EQ(transcript()[1], T(Text::usage) + " " + kProgram + " " + T(Text::usage_options));
  reset_screen();
  EXPECT_EQ(run({"-V"}), kExitSuccess);
  EXPECT_EQ(transcript(), (std::vector<std::string>{"My App 1.0", std::string(kProgram) + ": " +
                                                                      T(Text::made_with) +
                                                                      " " ENTPACKER_VERSION}));
}

// A large extraction on a console shows one progress line in place of the announcements;
// it is gone when the run ends, and a question brings the entry's name back.
TEST_F(SelfExtractorTest, ALargeRunShowsProgressInPlaceOfItsAnnouncements) {
  const std::vector<ArchiveFile> files = {{"gross.bin", std::string(kProgressMinBytes, 'g')},
                                          {"b.txt", "neu"}};
  make_program(named_archive_of(files, false, 1 << 20));
  write_file("b.txt", "alt");
  memory_console_push_key(&screen_, 'y', 0x15);
  EXPECT_EQ(run({"-o", "."}), kExitSuccess);
  std::vector<std::string> expected = {
      kSummary, T(Text::announce) + "b.txt'", T(Text::overwrite_question), "", T(Text::done),
      "",       T(Text::closing_prompt)};
  // The built-in program's set shows no progress line: its announcements stay.
  if (!front_end_self_extractor())
    expected.insert(expected.begin() + 1, T(Text::announce) + "gross.bin'");
  EXPECT_EQ(transcript(), expected);
  EXPECT_EQ(read_file("b.txt"), "neu");
  // Quiet, or below the size: no progress line and no announcements either way.
  reset_screen();
  EXPECT_EQ(run({"-y", "-q"}), kExitSuccess);
  EXPECT_TRUE(transcript().empty());
}
