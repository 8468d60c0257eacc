#include "pack/named_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put_le(Bytes& out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

/// A table that holds only a settings record of `fields` ({tag, value}), its size field
/// `extra` bytes larger than they are.
Bytes settings_table(const std::vector<std::pair<uint16_t, std::string>>& fields,
                     uint32_t extra = 0) {
  Bytes record;
  for (const auto& [tag, value] : fields) {
    put_le(record, tag, 2);
    put_le(record, value.size(), 4);
    record.insert(record.end(), value.begin(), value.end());
  }
  Bytes table;
  put_le(table, record.size() + extra, 4);
  table.insert(table.end(), record.begin(), record.end());
  return table;
}

TEST(NamedSettings, TitleRules) {
  const std::string longest(kNamedTitleMaxSize, 'a');
  const struct {
    std::string title;
    bool valid;
  } cases[] = {
      {"Urlaub 2024", true},
      {"Grüße – ✓ 😀", true},
      {longest, true},
      {"", false},
      {longest + "a", false},
      {"tab\there", false},
      {"del\x7f", false},
      {"nel \xc2\x85", false},
      {"cut \xc3", false},
      {"overlong \xc0\xaf", false},
      {"surrogate \xed\xa0\x80", false},
      {"above \xf4\x90\x80\x80", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(named_title_valid(reinterpret_cast<const uint8_t*>(c.title.data()), c.title.size()),
              c.valid);
  }
}

TEST(NamedSettings, ReadsTitleAndLanguageAndPassesOverOthers) {
  const Bytes table = settings_table({{kNamedSettingTitle, "first"},
                                      {7, "unknown"},
                                      {kNamedSettingLanguage, "deu"},
                                      {kNamedSettingLanguage, "de"},
                                      {kNamedSettingTitle, "Titel"}});
  const NamedDialogueSettings s = named_archive_dialogue_settings(table.data(), table.size());
  ASSERT_NE(s.title, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.title), s.title_size), "Titel");
  EXPECT_TRUE(s.title_valid);
  ASSERT_NE(s.language, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.language), kNamedLanguageSize), "de");
  EXPECT_TRUE(s.language_valid);
  EXPECT_FALSE(s.installer);

  const Bytes none = settings_table({});
  EXPECT_EQ(named_archive_dialogue_settings(none.data(), none.size()).title, nullptr);
  const Bytes upper = settings_table({{kNamedSettingLanguage, "DE"}, {kNamedSettingTitle, "a\n"}});
  const NamedDialogueSettings bad = named_archive_dialogue_settings(upper.data(), upper.size());
  EXPECT_FALSE(bad.language_valid);
  EXPECT_FALSE(bad.title_valid);
  // A record whose size runs past the table gives nothing.
  const Bytes cut = settings_table({{kNamedSettingTitle, "x"}}, 1);
  EXPECT_EQ(named_archive_dialogue_settings(cut.data(), cut.size()).title, nullptr);
}

TEST(NamedSettings, LicenseRulesAndInstallerSettings) {
  const auto license_valid = [](const std::string& text) {
    return named_license_valid(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  EXPECT_TRUE(license_valid("Terms\r\n\tindented\f\nGrüße"));
  EXPECT_TRUE(license_valid(std::string(kNamedLicenseMaxSize, 'x')));
  EXPECT_FALSE(license_valid(""));
  EXPECT_FALSE(license_valid(std::string(kNamedLicenseMaxSize + 1, 'x')));
  EXPECT_FALSE(license_valid(std::string("nul\0", 4)));
  EXPECT_FALSE(license_valid("escape \x1b[2J"));
  EXPECT_FALSE(license_valid("cut \xe2\x80"));

  const Bytes table = settings_table({{kNamedSettingRun, "old"},
                                      {kNamedSettingTitle, "T"},
                                      {kNamedSettingTemp, ""},
                                      {kNamedSettingLicense, "bad\x01"},
                                      {kNamedSettingRun, "setup.sh --all"},
                                      {kNamedSettingLicense, "Accept this."}});
  const NamedInstallerSettings s = named_archive_installer_settings(table.data(), table.size());
  ASSERT_NE(s.run, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.run), s.run_size), "setup.sh --all");
  EXPECT_TRUE(s.temp);
  ASSERT_NE(s.license, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.license), s.license_size), "Accept this.");
  EXPECT_TRUE(s.license_valid);
  EXPECT_TRUE(named_archive_dialogue_settings(table.data(), table.size()).installer);

  // A temporary-folder setting with a value is not taken; none of them in a plain record.
  const Bytes odd = settings_table({{kNamedSettingTemp, "x"}, {kNamedSettingLicense, "\x7f"}});
  const NamedInstallerSettings o = named_archive_installer_settings(odd.data(), odd.size());
  EXPECT_FALSE(o.temp);
  EXPECT_FALSE(o.license_valid);
  const Bytes none = settings_table({{kNamedSettingTitle, "T"}});
  const NamedInstallerSettings n = named_archive_installer_settings(none.data(), none.size());
  EXPECT_EQ(n.run, nullptr);
  EXPECT_EQ(n.license, nullptr);
  EXPECT_FALSE(n.temp);
}

}  // namespace
