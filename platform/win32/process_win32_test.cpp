// The program's own file name on Windows, in UTF-8, whole or cut to the caller's buffer.
// scripts/test-windows also runs these from a folder whose name goes beyond ASCII.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/process.h"

namespace {

std::string module_name() {
  char buffer[kMaxPathSize];
  const uint32_t length = platform_module_file_name(buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : "<none>";
}

TEST(ModuleFileNameTest, NamesTheProgramsOwnFileByAPathItOpens) {
  const std::string name = module_name();
  ASSERT_GT(name.size(), 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".exe");
  EXPECT_EQ(platform_file_kind(name.c_str()), FileKind::kRegular);
  PlatformFile self = platform_file_open(name.c_str(), kFileAccessRead, kFileShareRead,
                                         FileDisposition::kOpenExisting);
  ASSERT_NE(self, kPlatformInvalidFile);
  char magic[2] = {};
  uint32_t done = 0;
  EXPECT_TRUE(platform_file_read(self, magic, sizeof magic, &done));
  EXPECT_EQ(std::string(magic, done), "MZ");
  EXPECT_TRUE(platform_file_close(self));
}

TEST(ModuleFileNameTest, ABufferTooSmallGetsTheWholeCharactersThatFitAndItsSize) {
  const std::string name = module_name();
  ASSERT_NE(name, "<none>");
  char buffer[kMaxPathSize];
  for (uint32_t size = 1; size <= name.size(); ++size) {
    ASSERT_EQ(platform_module_file_name(buffer, size), size);
    const std::string start = buffer;
    // A character of up to four bytes that does not fit is left out whole.
    EXPECT_TRUE(start.size() < size && start.size() + 4 >= size) << size;
    EXPECT_EQ(start, name.substr(0, start.size())) << size;
    EXPECT_NE(static_cast<unsigned char>(name[start.size()]) & 0xC0, 0x80) << size;
  }
  const auto fits = static_cast<uint32_t>(name.size() + 1);
  EXPECT_EQ(platform_module_file_name(buffer, fits), name.size());
  EXPECT_EQ(platform_module_file_name(nullptr, fits), 0u);
  EXPECT_EQ(platform_module_file_name(buffer, 0), 0u);
}

}  // namespace
