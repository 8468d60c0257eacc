// The settings a self-extractor reads: its dialogue's title and language, and an
// installer's command, temporary folder and licence. The rules a writer checks them by, and
// readers that take them from a version 2 table. Like the
// rest of the reader, it works on bytes in memory and uses nothing of the standard library
// beyond fixed-size integers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pack/named_archive.h"

/// Whether the `size` bytes at `text` make a title: 1 to kNamedTitleMaxSize bytes of valid
/// UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) without a control
/// character (U+0000 to U+001F, U+007F to U+009F).
bool named_title_valid(const uint8_t* text, size_t size);

/// Whether the `size` bytes at `code` make a language code: kNamedLanguageSize lower-case
/// ASCII letters.
bool named_language_valid(const uint8_t* code, size_t size);

/// The title and the language of an archive; a pointer is null when its setting is absent,
/// and points into the table otherwise.
struct NamedDialogueSettings {
  const uint8_t* title;
  size_t title_size;
  const uint8_t* language;  ///< kNamedLanguageSize bytes
  bool title_valid;         ///< the title keeps to named_title_valid
  bool language_valid;      ///< the language keeps to named_language_valid
  bool installer;           ///< a command is set: the dialogue tells of an installer's options
};

/// Reads the title and the language, and whether a command is set, from the settings record
/// of the `size` bytes of a version 2 `table`; the last field of a tag counts. A language of
/// another size than kNamedLanguageSize is taken as absent. A record that does not walk to its end
/// gives what was read before the fault.
NamedDialogueSettings named_archive_dialogue_settings(const uint8_t* table, size_t size);

/// The longest licence text an archive keeps.
inline constexpr size_t kNamedLicenseMaxSize = 256 * 1024;

/// Whether the `size` bytes at `text` make a licence: 1 to kNamedLicenseMaxSize bytes of
/// valid UTF-8 without control characters other than tab, line feed, form feed and carriage
/// return.
bool named_license_valid(const uint8_t* text, size_t size);

/// Whether `tag` is one of an installer's settings (the command, the temporary folder, the
/// licence).
inline bool named_setting_is_installer(uint16_t tag) {
  return tag == kNamedSettingRun || tag == kNamedSettingTemp || tag == kNamedSettingLicense;
}

/// An installer's settings; a pointer is null when its setting is absent, and points into
/// the table otherwise.
struct NamedInstallerSettings {
  const uint8_t* run;  ///< the command (see pack/run_command.h), not zero-terminated
  size_t run_size;
  bool temp;               ///< extract into a new temporary folder, removed afterwards
  const uint8_t* license;  ///< the licence text
  size_t license_size;
  bool license_valid;  ///< the licence keeps to named_license_valid
};

/// Reads the installer's settings from the settings record of the `size` bytes of a version
/// 2 `table`; the last field of a tag counts. A temporary-folder setting with a value is
/// taken as absent. A record that does not walk to its end gives what was read before the
/// fault.
NamedInstallerSettings named_archive_installer_settings(const uint8_t* table, size_t size);
