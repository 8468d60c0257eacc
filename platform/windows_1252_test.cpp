// The Windows-1252 table: every byte with a character comes back from its character.
#include "platform/windows_1252.h"

#include <gtest/gtest.h>

TEST(Windows1252, EveryCharacterMapsBackToItsByte) {
  int without = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const uint32_t c = windows_1252_to_unicode(uint8_t(byte));
    if (byte != 0 && c == 0) {
      ++without;
      continue;
    }
    EXPECT_EQ(windows_1252_of(c), byte) << byte;
  }
  EXPECT_EQ(without, 5);                              // 0x81, 0x8D, 0x8F, 0x90, 0x9D
  EXPECT_EQ(windows_1252_to_unicode(0x80), 0x20ACu);  // €
  EXPECT_EQ(windows_1252_to_unicode(0x9F), 0x0178u);  // Ÿ
  EXPECT_EQ(windows_1252_of(0x0080), -1);             // a C1 control has no byte
  EXPECT_EQ(windows_1252_of(0x0100), -1);
}
