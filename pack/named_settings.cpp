#include "pack/named_settings.h"

#include "pack/entry_names.h"

namespace {

constexpr uint8_t kLastControlC0 = 0x1F;
constexpr uint8_t kDelete = 0x7F;
/// The C1 controls, U+0080 to U+009F, are this lead byte and a second byte up to 0x9F.
constexpr uint8_t kControlC1Lead = 0xC2;
constexpr uint8_t kLastControlC1Second = 0x9F;

}  // namespace

namespace {

/// Whether the `size` bytes at `text` are 1 to `max_size` bytes of valid UTF-8 without a
/// control character; with `layout`, tab, line feed, form feed and carriage return are
/// taken.
bool text_valid(const uint8_t* text, size_t size, size_t max_size, bool layout) {
  if (text == nullptr || size == 0 || size > max_size) return false;
  for (size_t at = 0; at < size;) {
    const size_t length = utf8_sequence_size(text + at, size - at);
    const uint8_t lead = text[at];
    const bool kept = layout && (lead == '\t' || lead == '\n' || lead == '\f' || lead == '\r');
    if (length == 0 || (lead <= kLastControlC0 && !kept) || lead == kDelete ||
        (lead == kControlC1Lead && text[at + 1] <= kLastControlC1Second)) {
      return false;
    }
    at += length;
  }
  return true;
}

}  // namespace

bool named_title_valid(const uint8_t* text, size_t size) {
  return text_valid(text, size, kNamedTitleMaxSize, false);
}

bool named_license_valid(const uint8_t* text, size_t size) {
  return text_valid(text, size, kNamedLicenseMaxSize, true);
}

bool named_language_valid(const uint8_t* code, size_t size) {
  if (code == nullptr || size != kNamedLanguageSize) return false;
  for (size_t i = 0; i < size; ++i) {
    if (code[i] < 'a' || code[i] > 'z') return false;
  }
  return true;
}

NamedDialogueSettings named_archive_dialogue_settings(const uint8_t* table, size_t size) {
  NamedDialogueSettings found = {nullptr, 0, nullptr, false, false, false};
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
    } else if (setting.tag == kNamedSettingRun) {
      found.installer = true;
    }
  }
  return found;
}

NamedInstallerSettings named_archive_installer_settings(const uint8_t* table, size_t size) {
  NamedInstallerSettings found = {nullptr, 0, false, nullptr, 0, false};
  NamedSettingsWalk walk = named_archive_settings_start(table, size);
  NamedSetting setting;
  while (named_archive_next_setting(walk, &setting)) {
    if (setting.tag == kNamedSettingRun) {
      found.run = setting.value;
      found.run_size = setting.size;
    } else if (setting.tag == kNamedSettingTemp) {
      found.temp = setting.size == 0;
    } else if (setting.tag == kNamedSettingLicense) {
      found.license = setting.value;
      found.license_size = setting.size;
      found.license_valid = named_license_valid(setting.value, setting.size);
    }
  }
  return found;
}
