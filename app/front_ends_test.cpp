// One table of archives run through every front end of the extraction core: the program
// given options (in this process, on a memory console), and on POSIX systems the
// self-extractor stub and jcpack's unpack, test and list as processes. Every front end
// gives the same answer for each row: what is written, what is refused, the exit code.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "app/overwrite.h"
#include "jc/jc.h"
#include "platform/console.h"
#include "platform/file_faults.h"
#include "testing/archive_helpers.h"
#include "testing/memory_console_helpers.h"
#include "testing/scratch_directory_fixture.h"
#include "testing/self_extractor_helpers.h"

namespace {

constexpr char kProgram[] = "program";
/// What the front ends extract into; it holds kKept with kOldContent before each run.
constexpr char kOut[] = "out";
constexpr char kKept[] = "keep.txt";
constexpr char kOldContent[] = "old content";

/// One row: an archive and whether each front end must refuse it whole. Each row is made in
/// both versions of the layout; `fields` (a settings record's) and `short_by` are version 2's.
struct Row {
  const char* what;
  std::vector<std::string> names;  ///< files, each holding "new " + its name
  bool refused;                    ///< refused everywhere
  bool refused_where_names_fold;   ///< refused where names are compared as Windows does
  std::string fields = "";         ///< version 2: the settings record's fields
  size_t short_by = 0;             ///< version 2: the blocks hold this many bytes too few
};

/// Bytes of content per block of a row's version 2 archive: files span blocks and blocks
/// hold the ends and starts of several files.
constexpr size_t kRowBlockSize = 5;
/// Settings tags no program knows, one that changes what is written and one that does not.
constexpr uint16_t kUnknownRequiredTag = kNamedSettingRequired | 0x7F01;
constexpr uint16_t kUnknownOptionalTag = 0x7F02;

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"a sound archive replaces a file and keeps its mode", {kKept, "a/b.txt"}, false, false},
      {"an unsafe name among good ones", {"good.txt", "../evil.txt", kKept}, true, true},
      {"a name given twice", {"a.txt", kKept, "a.txt"}, true, true},
      {"a file, then a folder below it", {"a", "a/b.txt", kKept}, true, true},
      {"names equal ignoring case, Greek, Cyrillic and fullwidth",
       {"\xCE\xA9.txt", "\xCF\x89.txt", "\xD0\x94", "\xD0\xB4", "\xEF\xBC\xA1", "\xEF\xBD\x81",
        kKept},
       false,
       true},
      {"names equal ignoring Latin-1 case",
       {"\xC3\x9C"
        "bersicht.txt",
        "\xC3\xBC"
        "bersicht.TXT",
        kKept},
       false,
       true},
      {"a setting unknown here that changes what is written",
       {kKept},
       true,
       true,
       setting_field(kUnknownRequiredTag, "x")},
      {"a setting unknown here that changes nothing",
       {kKept, "a/b.txt"},
       false,
       false,
       setting_field(kUnknownOptionalTag, "title") + setting_field(kUnknownOptionalTag, "")},
      {"blocks that hold fewer bytes than the files", {kKept, "a.txt"}, true, true, "", 3},
  };
  return table;
}

/// The archive of a row in `version`, by hand, so that any name can be in it; empty for a
/// row of version 2 alone.
std::string archive_of(const Row& row, uint32_t version) {
  const auto count = static_cast<uint32_t>(row.names.size());
  std::string entries;
  std::string table;
  if (version == kNamedArchiveVersion1) {
    if (!row.fields.empty() || row.short_by != 0) return "";
    for (const std::string& name : row.names) {
      entries += stored("new " + name);
      table += table_record(name);
    }
    return named_archive_by_hand(entries, table, count);
  }
  std::string content;
  for (const std::string& name : row.names) {
    content += "new " + name;
    table += table_record_v2(name, name.size() + 4);
  }
  content.resize(content.size() - row.short_by);
  for (size_t at = 0; at < content.size(); at += kRowBlockSize)
    entries += stored(content.substr(at, kRowBlockSize));
  return named_archive_v2_by_hand(entries, row.fields, table, count);
}

class FrontEndsTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    memory_console_init(&screen_, 100, 60, 100, 60);
    screen_.input_closed = true;
    platform_console_install(&screen_);
  }
  void TearDown() override {
    platform_console_install(nullptr);
    ScratchDirectoryTest::TearDown();
  }

  /// The output folder as each run finds it: kKept with its old content, mode 600.
  void prepare_output() {
    std::filesystem::remove_all(kOut);
    ASSERT_TRUE(std::filesystem::create_directory(kOut));
    write_file(std::string(kOut) + "/" + kKept, kOldContent);
    ASSERT_EQ(chmod((std::string(kOut) + "/" + kKept).c_str(), 0600), 0);
  }

  /// The program given `arguments`, with `archive` appended to its file, in this process.
  int run_program(const std::string& archive, const std::vector<std::string>& arguments) {
    write_file(kProgram, "stub code " + archive);
    memory_console_init(&screen_, 100, 60, 100, 60);
    screen_.input_closed = true;
    std::vector<const char*> list;
    for (const std::string& argument : arguments) list.push_back(argument.c_str());
    const std::string program = in_scratch(kProgram);
    const std::string here = current_directory();
    const int code = extraction_run_with_arguments(nullptr, 0, ArchiveDigest{}, program.c_str(),
                                                   static_cast<int>(list.size()), list.data());
    EXPECT_EQ(chdir(here.c_str()), 0);
    return code;
  }

  /// Every name below kOut, folders ending in '/'.
  static std::vector<std::string> written() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(kOut)) {
      std::string name = e.path().lexically_relative(kOut).generic_string();
      if (e.is_directory()) name += "/";
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  /// What kOut must hold after an extraction of `row` that `refused` or not.
  static void expect_output(const Row& row, bool refused) {
    const std::string kept = std::string(kOut) + "/" + kKept;
    if (refused) {
      EXPECT_EQ(written(), std::vector<std::string>{kKept});
      EXPECT_EQ(read_file(kept), kOldContent);
      return;
    }
    for (const std::string& name : row.names) {
      if (name.find('.') == std::string::npos) continue;  // a folder of the row
      EXPECT_EQ(read_file(std::string(kOut) + "/" + name), "new " + name) << name;
    }
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  }

  MemoryConsole screen_;
};

#if defined(_WIN32)
constexpr bool kProgramFoldsNames = true;
#else
constexpr bool kProgramFoldsNames = false;

/// Runs `command` through the shell with nothing on standard input and its output dropped;
/// its exit code.
int shell(const std::string& command) {
  const int status = std::system((command + " </dev/null >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

/// Every row with each version it is made in.
std::vector<std::pair<Row, uint32_t>> every_row_in_both_versions() {
  std::vector<std::pair<Row, uint32_t>> list;
  for (const Row& row : rows()) {
    for (const uint32_t version : {kNamedArchiveVersion1, kNamedArchiveVersion2})
      if (!archive_of(row, version).empty()) list.emplace_back(row, version);
  }
  return list;
}

TEST_F(FrontEndsTest, EveryFrontEndGivesOneAnswerPerArchive) {
  for (const auto& [row, version] : every_row_in_both_versions()) {
    SCOPED_TRACE(row.what);
    SCOPED_TRACE(version);
    const std::string archive = archive_of(row, version);
    const bool refused = row.refused || (kProgramFoldsNames && row.refused_where_names_fold);
    const int code = refused ? kExitFailure : kExitSuccess;

    prepare_output();
    EXPECT_EQ(run_program(archive, {"-y", "-o", kOut}), code) << "program -y";
    expect_output(row, refused);
    EXPECT_EQ(run_program(archive, {"-y", "-o", "fresh"}), code) << "program -y -o fresh";
    EXPECT_EQ(std::filesystem::exists("fresh"), !refused);
    std::filesystem::remove_all("fresh");
    EXPECT_EQ(run_program(archive, {"--test"}), code) << "program --test";
    EXPECT_EQ(run_program(archive, {"--list"}), code) << "program --list";

#ifndef _WIN32
    write_file("stub.run", read_file(ENTPACKER_STUB_PATH) + archive);
    ASSERT_EQ(chmod("stub.run", 0755), 0);
    prepare_output();
    EXPECT_EQ(shell("./stub.run -y -o out"), code) << "stub -y";
    expect_output(row, refused);
    EXPECT_EQ(shell("./stub.run --test"), code) << "stub --test";
    EXPECT_EQ(shell("./stub.run -y -o fresh"), code) << "stub -y -o fresh";
    EXPECT_EQ(std::filesystem::exists("fresh"), !refused);
    std::filesystem::remove_all("fresh");

    // jcpack reads a self-extractor whose program is a Windows one as Windows extracts it.
    for (const bool windows : {false, true}) {
      SCOPED_TRACE(windows ? "jcpack, Windows program" : "jcpack");
      const bool jcpack_refused = row.refused || (windows && row.refused_where_names_fold);
      const int jcpack_code = jcpack_refused ? kExitFailure : kExitSuccess;
      write_file("any.run", std::string(windows ? "MZ"
                                                : "\x7F"
                                                  "ELF") +
                                " code " + archive);
      prepare_output();
      EXPECT_EQ(shell(std::string(JCPACK_PATH) + " unpack any.run out"), jcpack_code);
      expect_output(row, jcpack_refused);
      EXPECT_EQ(shell(std::string(JCPACK_PATH) + " test any.run"), jcpack_code);
      EXPECT_EQ(shell(std::string(JCPACK_PATH) + " unpack any.run fresh"), jcpack_code);
      EXPECT_EQ(std::filesystem::exists("fresh"), !jcpack_refused);
      std::filesystem::remove_all("fresh");
      EXPECT_EQ(shell(std::string(JCPACK_PATH) + " list any.run"), jcpack_code);
    }
#endif
  }
}

/// Makes the target of the next test at the first write of the new file, as another program
/// could while a large entry is being written.
std::string appearing_target;

void make_target_meanwhile() {
  std::ofstream(appearing_target, std::ios::binary) << "the user's";
}

TEST_F(FrontEndsTest, ATargetThatAppearsWhileItsEntryIsWrittenIsAskedAboutOrKept) {
  const std::string archive = named_archive_of({{"neu.txt", "from the archive"}});
  struct Case {
    std::vector<std::string> arguments;
    uint16_t key;  ///< the answer to a question, 0 for none
    const char* content;
  };
  const std::vector<Case> cases = {
      {{"-o", kOut, "--no-wait"}, 'n', "the user's"},
      {{"-o", kOut, "--no-wait"}, 'j', "from the archive"},
      {{"-n", "-o", kOut}, 0, "the user's"},
      {{"-y", "-o", kOut}, 0, "from the archive"},  // overwrite without asking, as asked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + std::string(1, char(c.key)));
    prepare_output();
    write_file(kProgram, "stub code " + archive);
    memory_console_init(&screen_, 100, 60, 100, 60);
    screen_.input_closed = true;
    if (c.key) memory_console_push_key(&screen_, c.key, 0);
    std::vector<const char*> list;
    for (const std::string& argument : c.arguments) list.push_back(argument.c_str());
    const std::string program = in_scratch(kProgram);
    const std::string here = current_directory();
    appearing_target = in_scratch("out/neu.txt");
    platform_file_call_at_next_write(make_target_meanwhile);
    EXPECT_EQ(extraction_run_with_arguments(nullptr, 0, ArchiveDigest{}, program.c_str(),
                                            static_cast<int>(list.size()), list.data()),
              kExitSuccess);
    platform_file_call_at_next_write(nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    EXPECT_EQ(read_file("out/neu.txt"), c.content);
    bool asked = false;
    for (int y = 0; y < 60; ++y)
      asked = asked || memory_console_row(&screen_, y) == kOverwriteQuestion;
    EXPECT_EQ(asked, c.key != 0);
    EXPECT_EQ(written(), (std::vector<std::string>{kKept, "neu.txt"}));
  }
}

}  // namespace

TEST_F(FrontEndsTest, ADamagedBlockCostsOnlyTheFilesWhoseBytesItHolds) {
  // a.txt in a block of its own, b.txt and c.txt in a damaged block, d.txt in a block of its
  // own; the archive's checks are right.
  const std::string records = table_record_v2("a.txt", 9) + table_record_v2("b.txt", 30) +
                              table_record_v2("c.txt", 30) + table_record_v2("d.txt", 9);
  // The middle block's stream ends at once, or is a sound block of fewer bytes than its
  // entry states.
  const std::string bs(40, 'b');
  std::vector<uint8_t> half(jc_compress_bound(bs.size()));
  size_t half_size = 0;
  ASSERT_EQ(jc_compress(reinterpret_cast<const uint8_t*>(bs.data()), bs.size(), 9, half.data(),
                        half.size(), &half_size),
            JcStatus::ok);
  for (const std::string& broken :
       {entry(60, std::string("JC") + u32(60) + u32(0) + u32(0)),
        entry(60, std::string(reinterpret_cast<const char*>(half.data()), half_size))}) {
    SCOPED_TRACE(broken.size());
    const std::string archive = named_archive_v2_by_hand(
        stored("new a.txt") + broken + stored("new d.txt"), "", records, 4);
    const auto expect_written = [] {
      EXPECT_EQ(written(), (std::vector<std::string>{"a.txt", "d.txt", kKept}));
      EXPECT_EQ(read_file(std::string(kOut) + "/d.txt"), "new d.txt");
    };
    prepare_output();
    EXPECT_EQ(run_program(archive, {"-y", "-o", kOut}), kExitFailure);
    expect_written();
    EXPECT_EQ(run_program(archive, {"--test"}), kExitFailure);
    EXPECT_EQ(run_program(archive, {"--list"}), kExitSuccess);
#ifndef _WIN32
    write_file("stub.run", read_file(ENTPACKER_STUB_PATH) + archive);
    ASSERT_EQ(chmod("stub.run", 0755), 0);
    prepare_output();
    EXPECT_EQ(shell("./stub.run -y -o out"), kExitFailure);
    expect_written();
    EXPECT_EQ(shell("./stub.run --test"), kExitFailure);
    prepare_output();
    EXPECT_EQ(shell(std::string(JCPACK_PATH) + " unpack stub.run out"), kExitFailure);
    expect_written();
    // jcpack's list tests each entry as it lists it.
    EXPECT_EQ(shell(std::string(JCPACK_PATH) + " list stub.run"), kExitFailure);
#endif
  }
}
