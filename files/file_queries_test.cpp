#include "files/file_queries.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "files/program_directory.h"
#include "testing/scratch_directory_fixture.h"

namespace {

/// The scratch directory is the program directory; each test starts in a subdirectory of
/// it, so that the probe's change of directory shows.
class FileQueriesTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    program_directory_init(in_scratch("entpacker").c_str());
    ASSERT_EQ(mkdir("elsewhere", 0755), 0);
    ASSERT_EQ(chdir("elsewhere"), 0);
  }
  void TearDown() override {
    program_directory_init(nullptr);
    ScratchDirectoryTest::TearDown();
  }
  std::string in_program_directory(const std::string& name) const { return in_scratch(name); }
};

TEST_F(FileQueriesTest, NullOrEmptyNameLeavesTheDirectory) {
  EXPECT_EQ(file_size_probe(nullptr), kProbeMissing);
  EXPECT_EQ(file_size_probe(""), kProbeMissing);
  EXPECT_EQ(current_directory(), in_scratch("elsewhere"));
}

TEST_F(FileQueriesTest, MissingNameStillMakesTheProgramDirectoryCurrent) {
  write_file("local", "x");  // in the start directory, not in the program directory
  EXPECT_EQ(file_size_probe("local"), kProbeMissing);
  EXPECT_EQ(current_directory(), directory_);
}

TEST_F(FileQueriesTest, FilesDirectoriesAndSeparators) {
  write_file(in_program_directory("five"), "12345");
  write_file(in_program_directory("empty"), "");
  EXPECT_EQ(file_size_probe("five"), 5);
  EXPECT_EQ(file_size_probe(native_path("five/").c_str()), 5);  // one trailing separator is dropped
  EXPECT_EQ(file_size_probe(native_path("five//").c_str()), kProbeMissing);
  EXPECT_EQ(file_size_probe("empty"), 0);
  EXPECT_EQ(file_size_probe("elsewhere"), kProbeDirectory);
  EXPECT_EQ(file_size_probe(native_path("elsewhere/").c_str()), kProbeDirectory);
  EXPECT_EQ(file_size_probe(directory_.c_str()), kProbeDirectory);
  EXPECT_EQ(file_size_probe(native_path("/").c_str()), kProbeMissing);  // empty once it is gone
  EXPECT_EQ(file_size_probe("f*"), 5);
#if !defined(_WIN32)
  EXPECT_EQ(file_size_probe("e*"), kProbeDirectory);  // "elsewhere" sorts before "empty"
#endif
  EXPECT_EQ(file_size_probe("em*"), 0);
  EXPECT_EQ(file_size_probe("?lsewhere"), kProbeDirectory);
  EXPECT_EQ(file_size_probe("*.none"), kProbeMissing);
}

TEST_F(FileQueriesTest, DriveFormsAreJudgedAsDrives) {
#if defined(_WIN32)
  // Drive C: exists on every system; a drive-relative name is no root directory and is
  // never taken as a file.
  EXPECT_EQ(file_size_probe("C:"), kProbeDirectory);
  EXPECT_EQ(file_size_probe("C:\\"), kProbeDirectory);
  EXPECT_EQ(file_size_probe("c:x"), kProbeMissing);
  EXPECT_EQ(file_size_probe("Q:"), kProbeMissing);
  write_file(in_program_directory("five"), "12345");
  EXPECT_EQ(file_size_probe("C:five"), 5);  // four characters are a plain name
#else
  write_file(in_program_directory("C:x"), "abc");
  write_file(in_program_directory("C:"), "abc");
  EXPECT_EQ(file_size_probe("C:"), kProbeMissing);
  EXPECT_EQ(file_size_probe("C:/"), kProbeMissing);
  EXPECT_EQ(file_size_probe("C:x"), kProbeMissing);  // never the size of the file
  EXPECT_EQ(file_size_probe("C:xy"), kProbeMissing);
  write_file(in_program_directory("C:xy"), "abcd");
  EXPECT_EQ(file_size_probe("C:xy"), 4);  // four characters are a plain name
#endif
}

TEST_F(FileQueriesTest, LargeFilesReportTheLargestSize) {
  const std::pair<const char*, uint64_t> files[] = {
      {"two-gib", uint64_t{2147483647}},
      {"three-billion", uint64_t{3000000000}},
      {"four-gib-and-five", (uint64_t{1} << 32) + 5},
  };
  for (const auto& [name, size] : files) {
    std::string path = in_program_directory(name);
    write_file(path, "");
    ASSERT_TRUE(set_size(path, size));  // sparse: cheap on disk
    EXPECT_EQ(file_size_probe(name), 2147483647) << name;
  }
}

TEST_F(FileQueriesTest, NameLengthIsBoundedByTheWorkingCopy) {
  write_file(in_program_directory("f"), "123");
  std::string steps;
  for (int i = 0; i < 510; ++i) steps += "./";
  std::string longest = steps + "./f";  // 1,023 characters
  std::string too_long = steps + ".//f";
  ASSERT_EQ(longest.size(), kProbeNameBufferSize - 1);
#if !defined(_WIN32)  // Windows itself refuses names this long
  EXPECT_EQ(file_size_probe(longest.c_str()), 3);
#endif
  EXPECT_EQ(file_size_probe(too_long.c_str()), kProbeMissing);
  std::string huge(100000, 'a');
  EXPECT_EQ(file_size_probe(huge.c_str()), kProbeMissing);
}

TEST_F(FileQueriesTest, DeleteResolvesInTheCurrentDirectory) {
  write_file("here", "x");
  EXPECT_NE(file_delete("here"), 0);
  EXPECT_FALSE(exists("here"));
  EXPECT_EQ(file_delete("here"), 0);
  EXPECT_EQ(file_delete("missing"), 0);
  EXPECT_EQ(current_directory(), in_scratch("elsewhere"));
}

}  // namespace
