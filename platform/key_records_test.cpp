#include "platform/key_records.h"

#include <gtest/gtest.h>

namespace {

uint8_t character_of(const ConsoleInputRecord& r) {
  return static_cast<uint8_t>(r.ascii_char);
}

}  // namespace

TEST(KeyRecords, BytesBecomeKeyPressesOfTheirKeys) {
  struct Case {
    uint8_t byte;
    uint8_t character;
    uint16_t scan;
  };
  const Case cases[] = {
      {'j', 'j', 0x24}, {'J', 'J', 0x24}, {'a', 'a', 0x1E}, {'n', 'n', 0x31}, {' ', ' ', 0x39},
      {'1', '1', 0x02}, {'!', '!', 0x02}, {'~', '~', 0x29}, {'\r', 13, 0x1C}, {'\n', 10, 0x1C},
      {'\t', 9, 0x0F},  {27, 27, 0x01},   {8, 8, 0x0E},     {127, 8, 0x0E},   {3, 3, 0x2E},
      {26, 26, 0x2C},   {0, 0, 0},        {0xE4, 0xE4, 0},  {0xFF, 0xFF, 0},
  };
  for (const Case& c : cases) {
    ConsoleInputRecord r = key_of_byte(c.byte);
    EXPECT_EQ(r.event_type, kKeyEvent) << int(c.byte);
    EXPECT_EQ(r.key_down, 1u) << int(c.byte);
    EXPECT_EQ(r.repeat_count, 1u) << int(c.byte);
    EXPECT_EQ(character_of(r), c.character) << int(c.byte);
    EXPECT_EQ(r.virtual_scan_code, c.scan) << int(c.byte);
  }
}
