#include "files/program_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "testing/scratch_directory_fixture.h"

namespace {

TEST(ProgramDirectoryTest, CutAfterTheLastSeparator) {
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/tool/entpacker", "/opt/tool/"},
      {"/entpacker", "/"},
      {"/opt/tool/", "/opt/tool/"},
      {"entpacker", ""},
      {"", ""},
  };
  for (const auto& [path, directory] : cases) {
    program_directory_init(native_path(path).c_str());
    EXPECT_EQ(std::string(program_directory), native_path(directory)) << path;
  }
  // Long paths are kept whole up to the buffer; a longer one is cut to its size first, and
  // the cut then works on what is left.
  std::string deep = native_path("/" + std::string(600, 'a') + "/" + std::string(200, 'b') + "/x");
  program_directory_init(deep.c_str());
  EXPECT_EQ(std::string(program_directory), deep.substr(0, 803));
  std::string deeper = native_path("/" + std::string(kProgramDirectorySize - 100, 'a') + "/" +
                                   std::string(200, 'b') + "/x");
  program_directory_init(deeper.c_str());
  EXPECT_EQ(std::string(program_directory), deeper.substr(0, kProgramDirectorySize - 98));
  strcpy(program_directory, native_path("/in/place/entpacker").c_str());
  program_directory_init(program_directory);
  EXPECT_EQ(std::string(program_directory), native_path("/in/place/"));
  program_directory_init(nullptr);
  EXPECT_STREQ(program_directory, "");
}

}  // namespace
