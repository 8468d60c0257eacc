// Test support: each test runs in a fresh temporary directory of its own, made current for
// the test and removed with everything in it afterwards. The paths it gives use the
// system's own separator, so they are what the program sees of its own file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "platform/process.h"

#if defined(_WIN32)
#include <direct.h>
#include <io.h>

/// The POSIX form of making a directory; Windows has no permission bits to give.
inline int mkdir(const char* name, int /*mode*/) {
  return _mkdir(name);
}
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

/// `path` with every '/' turned into the system's separator.
inline std::string native_path(std::string path) {
  for (char& c : path)
    if (c == '/') c = kPathSeparator;
  return path;
}

/// Fixture: SetUp makes and enters a fresh directory, TearDown returns and removes it.
class ScratchDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    ASSERT_FALSE(error);
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    ASSERT_FALSE(error);
    std::random_device seed;
    std::filesystem::path made;
    for (int attempt = 0; attempt < kCreateAttempts && made.empty(); ++attempt) {
      std::filesystem::path candidate = temporary / ("entpacker-" + std::to_string(seed()));
      if (std::filesystem::create_directory(candidate, error)) made = candidate;
    }
    ASSERT_FALSE(made.empty());
    directory_ = resolved(made).string();
    std::filesystem::current_path(directory_, error);
    ASSERT_FALSE(error);
  }

  void TearDown() override {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    ASSERT_FALSE(error);
#if defined(_WIN32)
    // Read-only files cannot be deleted there: make everything writable first.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_, error))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, error);
#endif
    std::filesystem::remove_all(directory_, error);
  }

  /// Writes `content` to the file `name` (relative to the current directory).
  static void write_file(const std::string& name, const std::string& content) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }

  /// The whole content of the file `name`.
  static std::string read_file(const std::string& name) {
    std::string content;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    std::fclose(f);
    return content;
  }

  /// The current directory of the process.
  static std::string current_directory() {
    std::error_code error;
    return std::filesystem::current_path(error).string();
  }

  /// True when something of the name `name` exists.
  static bool exists(const std::string& name) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(name, error));
  }

  /// Makes the file `name` `size` bytes long (sparse where the system allows).
  static bool set_size(const std::string& name, uint64_t size) {
    std::error_code error;
    std::filesystem::resize_file(name, size, error);
    return !error;
  }

  /// The full path of `name` in the scratch directory.
  std::string in_scratch(const std::string& name) const {
    return directory_ + kPathSeparator + name;
  }

  std::string directory_;  ///< the scratch directory's full path, without a final separator

 private:
  static constexpr int kCreateAttempts = 100;

  /// The full path of `path` with symbolic links resolved where the system has them.
  static std::filesystem::path resolved(const std::filesystem::path& path) {
#if defined(_WIN32)
    return std::filesystem::absolute(path).make_preferred();
#else
    return std::filesystem::canonical(path);
#endif
  }

  std::filesystem::path previous_;
};
