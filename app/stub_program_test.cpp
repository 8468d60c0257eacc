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
#include "jc/jc.h"
#include "jc/jc_bit_writer.h"
#include "testing/archive_helpers.h"
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

/// A JC block made by hand: a run of `run` bytes written by one match, then 1 + `changes`
/// literal-size changes, which take stream bits and write nothing, and one last literal.
/// With many changes the stream would overtake itself if it were unpacked in place.
std::string run_block(uint32_t run, int changes, std::string* unpacked) {
  std::vector<uint8_t> words;
  JcBitWriter w{&words};
  jc_put_literal_size(w, 8, 0);
  jc_put_literal(w, 'a', 8);
  jc_put_match(w, 1, 8, run - 1 - 4);  // offset 1 adds 4 to the coded length
  for (int i = 0; i <= changes; ++i) jc_put_literal_size(w, 7, 0x40);
  jc_put_literal(w, 'z' - 0x40, 7);
  jc_put_end(w);
  jc_flush_bits(w);
  *unpacked = std::string(run, 'a') + "z";
  const auto* bytes = reinterpret_cast<const uint8_t*>(unpacked->data());
  std::string block(kJcHeaderSize, '\0');
  jc_write_header(reinterpret_cast<uint8_t*>(block.data()),
                  {uint32_t(unpacked->size()), jc_checksum(bytes, unpacked->size())});
  return block + std::string(words.begin(), words.end());
}

}  // namespace

TEST_F(StubProgramTest,
       EntriesUnpackInPlaceAreReadAgainWhenTheStreamWouldOvertakeItselfAndGrowAboveTheWalkLimit) {
  std::string unpacked;
  const std::string block = run_block(100000, 100000, &unpacked);
  // In place, the block cannot be unpacked: the stub has to read it once more.
  const size_t capacity = jc_in_place_capacity(uint32_t(unpacked.size()), block.size());
  std::vector<uint8_t> buffer(capacity);
  std::copy(block.begin(), block.end(), buffer.end() - ptrdiff_t(block.size()));
  ASSERT_EQ(jc_decode_in_place(buffer.data(), capacity, block.size()).status,
            JcStatus::in_place_overlap);

  make_self_extractor(
      "sfx", named_archive_by_hand(entry(uint32_t(unpacked.size()), block) + stored("klein"),
                                   table_record("lang") + table_record("klein"), 2));
  EXPECT_EQ(run("./sfx -t"), kExitSuccess) << read_file("out.txt");
  EXPECT_EQ(run("./sfx -y -o aus"), kExitSuccess) << read_file("out.txt");
  EXPECT_TRUE(read_file("aus/lang") == unpacked);
  EXPECT_EQ(read_file("aus/klein"), "klein");

  // Above 16 MiB the block is walked alone first, then moved to the end of the grown block.
  std::string large;
  const std::string large_block = run_block(17 << 20, 0, &large);
  make_self_extractor("gross", named_archive_by_hand(entry(uint32_t(large.size()), large_block),
                                                     table_record("gross.bin"), 1));
  EXPECT_EQ(run("./gross -y -o aus"), kExitSuccess) << read_file("out.txt");
  EXPECT_TRUE(read_file("aus/gross.bin") == large);
}

TEST_F(StubProgramTest, TheStubAloneSaysThatNothingIsAppended) {
  make_self_extractor("stub", "");
  EXPECT_EQ(run("./stub"), kExitFailure);
  EXPECT_EQ(read_file("out.txt"), "No archive appended: nothing to extract\n");
  EXPECT_EQ(run("./stub --version"), kExitSuccess);
  EXPECT_EQ(read_file("out.txt"), std::string(kProgramVersion) + "\n");
}

// A download cut short: told from a stub with nothing appended. Its settings were in the
// part that was cut off, so it speaks English whatever its language was.
TEST_F(StubProgramTest, ASelfExtractorCutShortSaysSo) {
  const std::string expected =
      "Error: archive cut short: the file ends inside its archive (an incomplete download? "
      "Download it again)\n\nPress any key to finish...\n";
  for (const char* code : {"en", "de"}) {
    const std::string archive =
        named_archive_of(kFiles, false, kTestBlockSize, {{kNamedSettingLanguage, code}});
    for (const size_t cut : {size_t{1}, size_t{40}, archive.size() - 1}) {
      make_self_extractor("sfx", archive.substr(0, archive.size() - cut));
      EXPECT_EQ(run("./sfx"), kExitFailure);
      EXPECT_EQ(read_file("out.txt"), expected) << code << " " << cut;
    }
  }
  EXPECT_EQ(read_file(kFiles[0].path), "<missing>");
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
  EXPECT_NE(read_file("out.txt").find("Press any key to finish..."), std::string::npos);
}

TEST_F(StubProgramTest, ADamagedByteFailsTheTestAndARunWritesNothing) {
  std::string archive = named_archive_of(kFiles);
  archive[3] ^= 0x40;
  make_self_extractor("sfx", archive);
  EXPECT_EQ(run("./sfx --test"), kExitFailure);
  EXPECT_EQ(read_file("out.txt"),
            "Error: archive damaged (checksum mismatch): download it again\n");
  EXPECT_EQ(run("./sfx -y"), kExitFailure);
  EXPECT_EQ(run("./sfx"), kExitFailure);
  EXPECT_EQ(read_file("out.txt"),
            "Error: archive damaged (checksum mismatch): download it again\n\nPress any key "
            "to finish...\n");
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
  EXPECT_NE(read_file("err.txt").find("Aufruf: entpacker [Optionen]"), std::string::npos);
  EXPECT_EQ(run(program + " -h"), kExitSuccess);
  EXPECT_NE(read_file("out.txt").find("Aufruf: entpacker [Optionen]"), std::string::npos);
}

#endif  // _WIN32
