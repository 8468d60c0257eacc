#include "platform/key_records.h"

namespace {

// PC scan codes (set 1) of the printable ASCII characters 32-126, US layout.
constexpr uint8_t kScanOfAscii[95] = {
    0x39, 0x02, 0x28, 0x04, 0x05, 0x06, 0x08, 0x28, 0x0A, 0x0B, 0x09, 0x0D, 0x33, 0x0C, 0x34, 0x35,
    0x0B, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x27, 0x27, 0x33, 0x0D, 0x34, 0x35,
    0x03, 0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32, 0x31, 0x18,
    0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C, 0x1A, 0x2B, 0x1B, 0x07, 0x0C,
    0x29, 0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32, 0x31, 0x18,
    0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C, 0x1A, 0x2B, 0x1B, 0x29};

constexpr uint8_t kFirstPrintable = 32;
constexpr uint8_t kLastPrintable = 126;
constexpr uint8_t kScanEscape = 0x01;
constexpr uint8_t kScanBackspace = 0x0E;
constexpr uint8_t kScanTab = 0x0F;
constexpr uint8_t kScanEnter = 0x1C;
constexpr uint8_t kEscape = 0x1B;
constexpr uint8_t kBackspace = 0x08;
constexpr uint8_t kDelete = 0x7F;
constexpr uint8_t kLastControlLetter = 26;  // Ctrl+Z

}  // namespace

ConsoleInputRecord key_down_record(uint8_t character, uint8_t scan_code) {
  ConsoleInputRecord record{};
  record.event_type = kKeyEvent;
  record.key_down = 1;
  record.repeat_count = 1;
  record.virtual_scan_code = scan_code;
  record.ascii_char = static_cast<char>(character);
  return record;
}

ConsoleInputRecord key_of_byte(uint8_t character) {
  if (character >= kFirstPrintable && character <= kLastPrintable)
    return key_down_record(character, kScanOfAscii[character - kFirstPrintable]);
  switch (character) {
    case '\r':
    case '\n':
      return key_down_record(character, kScanEnter);
    case '\t':
      return key_down_record(character, kScanTab);
    case kEscape:
      return key_down_record(character, kScanEscape);
    case kBackspace:
    case kDelete:
      return key_down_record(kBackspace, kScanBackspace);
    default:
      break;
  }
  if (character >= 1 && character <= kLastControlLetter)  // Ctrl and a letter
    return key_down_record(character, kScanOfAscii['a' + character - 1 - kFirstPrintable]);
  return key_down_record(character, 0);
}
