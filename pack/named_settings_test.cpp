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

}  // namespace
