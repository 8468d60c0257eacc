#include "pack/named_settings.h"

namespace {

constexpr uint32_t kLastControlC0 = 0x1F;
constexpr uint32_t kFirstControlC1 = 0x7F;  ///< DEL, then the C1 controls
constexpr uint32_t kLastControlC1 = 0x9F;
constexpr uint32_t kFirstSurrogate = 0xD800;
constexpr uint32_t kLastSurrogate = 0xDFFF;
constexpr uint32_t kLastCodePoint = 0x10FFFF;

/// Decodes the UTF-8 sequence at `s` (`left` bytes remain) into `*code_point`; its length,
/// or 0 when it is not a valid, shortest sequence of a code point.
size_t utf8_decode(const uint8_t* s, size_t left, uint32_t* code_point) {
  const uint8_t lead = s[0];
  size_t length;
  uint32_t value;
  uint32_t least;  // the smallest code point a sequence of this length may carry
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (length > left) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[i] & 0x3Fu);
  }
  if (value < least || value > kLastCodePoint ||
      (value >= kFirstSurrogate && value <= kLastSurrogate)) {
    return 0;
  }
  *code_point = value;
  return length;
}

}  // namespace

bool named_title_valid(const uint8_t* text, size_t size) {
  if (text == nullptr || size == 0 || size > kNamedTitleMaxSize) return false;
  for (size_t at = 0; at < size;) {
    uint32_t c = 0;
    const size_t length = utf8_decode(text + at, size - at, &c);
    if (length == 0 || c <= kLastControlC0 || (c >= kFirstControlC1 && c <= kLastControlC1)) {
      return false;
    }
    at += length;
  }
  return true;
}

bool named_language_valid(const uint8_t* code, size_t size) {
  if (code == nullptr || size != kNamedLanguageSize) return false;
  for (size_t i = 0; i < size; ++i) {
    if (code[i] < 'a' || code[i] > 'z') return false;
  }
  return true;
}

NamedDialogueSettings named_archive_dialogue_settings(const uint8_t* table, size_t size) {
  NamedDialogueSettings found = {nullptr, 0, nullptr, false, false};
  NamedSettingsWalk walk = named_archive_settings_start(table, size);
  NamedSetting setting;
  while (named_archive_next_setting(walk, &setting)) {
    if (setting.tag == kNamedSettingTitle) {
      found.title = setting.value;
      found.title_size = setting.size;
      found.title_valid = named_title_valid(setting.value, setting.size);
    } else if (setting.tag == kNamedSettingLanguage && setting.size == kNamedLanguageSize) {
      found.language = setting.value;
      found.language_valid = named_language_valid(setting.value, setting.size);
    }
  }
  return found;
}
