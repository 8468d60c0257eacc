// Test support: each test runs in a fresh temporary directory of its own, made current for
// the test and removed with everything in it afterwards.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

/// Fixture: SetUp makes and enters a fresh directory, TearDown returns and removes it.
class ScratchDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/entpacker-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(pattern.c_str(), resolved), nullptr);
    directory_ = resolved;
    ASSERT_EQ(chdir(directory_.c_str()), 0);
  }

  void TearDown() override {
    ASSERT_EQ(chdir(previous_), 0);
    nftw(directory_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  }

  /// Writes `content` to the file `name` (relative to the scratch directory).
  static void write_file(const std::string& name, const std::string& content) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }

  /// The whole content of the file `name`.
  static std::string read_file(const std::string& name) {
    std::string content;
    FILE* f = fopen(name.c_str(), "rb");
    if (!f) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    fclose(f);
    return content;
  }

  /// The current directory of the process.
  static std::string current_directory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
  }

  std::string directory_;  ///< the scratch directory's resolved path, without a final '/'

 private:
  static int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
  }

  char previous_[PATH_MAX];
};
