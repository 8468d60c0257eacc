#include "pack/entry_names.h"

namespace {

constexpr uint8_t kDelete = 127;
constexpr uint8_t kFirstPrintable = 32;
constexpr uint8_t kUtf8SuperscriptLead = 0xC2;  ///< lead byte of ¹ ² ³ (U+00B9, B2, B3)
constexpr uint8_t kAsciiCaseBit = 0x20;

bool is_valid_utf8(const uint8_t* s, size_t size) {
  for (size_t i = 0; i < size;) {
    const size_t n = utf8_sequence_size(s + i, size - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

uint8_t ascii_upper(uint8_t c) {
  return (c >= 'a' && c <= 'z') ? uint8_t(c - kAsciiCaseBit) : c;
}

/// Whether the `size` bytes at `s` are `word` (upper-case ASCII) in any case.
bool equals_upper(const uint8_t* s, size_t size, const char* word) {
  size_t i = 0;
  for (; i < size && word[i] != '\0'; ++i) {
    if (ascii_upper(s[i]) != uint8_t(word[i])) return false;
  }
  return i == size && word[i] == '\0';
}

/// Whether a part's stem (the bytes before its first dot, trailing spaces dropped) is a
/// name that Windows opens as a device whatever the extension.
bool is_device_stem(const uint8_t* stem, size_t size) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (equals_upper(stem, size, device)) return true;
  }
  if (size < 4 || !(equals_upper(stem, 3, "COM") || equals_upper(stem, 3, "LPT"))) return false;
  if (size == 4) return stem[3] >= '0' && stem[3] <= '9';
  // COM¹, COM², COM³ and the same for LPT.
  return size == 5 && stem[3] == kUtf8SuperscriptLead &&
         (stem[4] == 0xB9 || stem[4] == 0xB2 || stem[4] == 0xB3);
}

bool is_device_name(const uint8_t* part, size_t size) {
  size_t stem = 0;
  while (stem < size && part[stem] != '.') ++stem;
  while (stem > 0 && part[stem - 1] == ' ') --stem;
  return is_device_stem(part, stem);
}

EntryNameProblem check_part(const uint8_t* part, size_t size) {
  if (size == 0) return EntryNameProblem::empty_part;
  if (size > kEntryNamePartMaxSize) return EntryNameProblem::part_too_long;
  if (part[0] == '.' && (size == 1 || (size == 2 && part[1] == '.'))) {
    return EntryNameProblem::dot_part;
  }
  for (size_t i = 0; i < size; ++i) {
    if (part[i] < kFirstPrintable || part[i] == kDelete) {
      return EntryNameProblem::control_character;
    }
    if (part[i] == '\\' || part[i] == ':') return EntryNameProblem::forbidden_character;
  }
  if (part[size - 1] == '.' || part[size - 1] == ' ') {
    return EntryNameProblem::trailing_dot_or_space;
  }
  if (is_device_name(part, size)) return EntryNameProblem::device_name;
  return EntryNameProblem::ok;
}

}  // namespace

size_t utf8_sequence_size(const uint8_t* s, size_t left) {
  const uint8_t lead = s[0];
  if (lead < 0x80) return 1;
  size_t size;
  uint8_t second_low = 0x80, second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    if (lead == 0xE0) second_low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) second_high = 0x9F;  // surrogates U+D800-U+DFFF
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    if (lead == 0xF0) second_low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) second_high = 0x8F;  // above U+10FFFF
  } else {
    return 0;  // a continuation byte, an overlong two-byte lead (C0, C1) or F5-FF
  }
  if (left < size || s[1] < second_low || s[1] > second_high) return 0;
  for (size_t i = 2; i < size; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return size;
}

EntryNameProblem entry_name_check(const uint8_t* name, size_t size) {
  if (size == 0) return EntryNameProblem::empty;
  if (size > kEntryNameMaxSize) return EntryNameProblem::too_long;
  if (!is_valid_utf8(name, size)) return EntryNameProblem::invalid_utf8;
  if (name[0] == kEntryNameSeparator) return EntryNameProblem::absolute;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && name[i] != kEntryNameSeparator) continue;
    const EntryNameProblem problem = check_part(name + start, i - start);
    if (problem != EntryNameProblem::ok) return problem;
    start = i + 1;
  }
  return EntryNameProblem::ok;
}

const char* entry_name_problem_text(EntryNameProblem problem) {
  switch (problem) {
    case EntryNameProblem::ok:
      return "safe";
    case EntryNameProblem::empty:
      return "empty name";
    case EntryNameProblem::too_long:
      return "name too long";
    case EntryNameProblem::invalid_utf8:
      return "not valid UTF-8";
    case EntryNameProblem::absolute:
      return "absolute path";
    case EntryNameProblem::empty_part:
      return "empty part";
    case EntryNameProblem::part_too_long:
      return "part too long";
    case EntryNameProblem::dot_part:
      return "a part is . or ..";
    case EntryNameProblem::control_character:
      return "control character";
    case EntryNameProblem::forbidden_character:
      return "backslash or colon";
    case EntryNameProblem::trailing_dot_or_space:
      return "part ends with a dot or space";
    case EntryNameProblem::device_name:
      return "device name";
  }
  return "unknown problem";
}
