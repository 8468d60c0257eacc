// Writes seed corpora for the fuzz targets into DIR/<target>/: valid blocks, encoder
// inputs and archives of both named layouts made from the codec's test data.
//   fuzz_seeds DIR
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "jc/pack_format.h"
#include "pack/named_archive.h"
#include "pack/named_archive_writer.h"
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write_seed(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

/// The extraction target's first byte: the way (0 built-in, 1 -y, 2 -n, 3 asking) and the
/// step after which the disk is full (0: never).
uint8_t extraction_way(uint8_t way, uint8_t fault) {
  constexpr int kFaultShift = 3;
  return uint8_t(way | fault << kFaultShift);
}

/// A named archive of files and folders, the way a self-extractor carries one, with names
/// that nest, share prefixes, and go beyond ASCII.
Bytes named_archive(const std::vector<Bytes>& samples) {
  struct Item {
    const char* path;
    int sample;  ///< -1 for a folder
  };
  const Item items[] = {
      {"Dokumente", -1},
      {"Dokumente/Brief.txt", 0},
      {"Dokumente/Unter Ordner/leer.txt", -2},
      {"a/b", -1},
      {"a/bb/c.bin", 3},
      {"\xC3\x9C"
       "bersicht.txt",
       1},  // Übersicht.txt
      {"Gr\xC3\xBC\xC3\x9F"
       "e/\xE2\x82\xAC.txt",
       5},  // Grüße/€.txt
      {"start.sh", 2},
  };
  Bytes archive;
  std::vector<NamedArchiveItem> named;
  for (const Item& item : items) {
    const bool folder = item.sample == -1;
    const Bytes empty;
    const Bytes& data = item.sample >= 0 ? samples[size_t(item.sample)] : empty;
    const size_t part = std::min<size_t>(data.size(), 1200);
    jc_append_pack_entry(archive, data.data(), part, 9, item.sample == 3);
    named.push_back(NamedArchiveItem{
        item.path, 1500000000,
        folder ? kNamedEntryDirectory : uint8_t(item.sample == 2 ? kNamedEntryExecutable : 0)});
  }
  if (!named_archive_finish(archive, 0, named)) return {};
  return archive;
}

/// A sink that appends to the vector `context`.
bool append_to(void* context, const uint8_t* data, size_t size) {
  static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + size);
  return true;
}

/// A file or folder of a version 2 seed (a folder has no bytes).
struct SeedItem {
  std::string path;
  uint8_t flags;
  Bytes data;
};

/// A setting of a version 2 seed.
struct SeedSetting {
  uint16_t tag;
  Bytes value;
};

/// A version 2 archive of `items` whose bytes, back to back, are cut into blocks of
/// `block_size` bytes (the last one shorter), with `settings`.
Bytes named_archive_v2(const std::vector<SeedItem>& items, size_t block_size,
                       const std::vector<SeedSetting>& settings) {
  Bytes archive;
  NamedArchiveWriter w;
  named_archive_writer_start(&w, append_to, &archive, kNamedArchiveVersion2);
  for (const SeedSetting& s : settings)
    named_archive_writer_setting(&w, s.tag, s.value.data(), s.value.size());
  Bytes content;
  for (const SeedItem& item : items)
    content.insert(content.end(), item.data.begin(), item.data.end());
  for (size_t at = 0; at < content.size(); at += block_size) {
    Bytes block;
    jc_append_pack_entry(block, content.data() + at, std::min(block_size, content.size() - at), 9,
                         false);
    named_archive_writer_block(&w, block.data(), block.size());
  }
  for (const SeedItem& item : items)
    named_archive_writer_item(
        &w, NamedArchiveItem{item.path, 1500000000, item.flags, item.data.size()});
  if (!named_archive_writer_finish(&w)) return {};
  return archive;
}

/// `archive` with one byte inside the stored bytes of its middle JC block turned, so that
/// the block fails to unpack while the others still do.
Bytes with_damaged_block(Bytes archive) {
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView block;
  std::vector<PackEntryView> coded;
  while (pack_walk_next(walk, &block) == PackWalkStep::entry)
    if (!pack_entry_is_stored(block.header)) coded.push_back(block);
  if (coded.empty()) return archive;
  const PackEntryView& middle = coded[coded.size() / 2];
  archive[size_t(middle.data - archive.data()) + middle.header.stored_size / 2] ^= 0x40;
  return archive;
}

/// Extraction inputs for an appended `archive` named `name`: run with -y, -n and asking,
/// with no, some and all targets there before.
void write_appended_seeds(const std::filesystem::path& dir, const std::string& name,
                          const Bytes& archive) {
  const uint8_t runs[3][2] = {{1, 0x00}, {2, 0xA5}, {3, 0xFF}};
  for (const auto& [way, existing] : runs) {
    Bytes input = {extraction_way(way, 0), existing, 0xE4};
    input.insert(input.end(), archive.begin(), archive.end());
    write_seed(dir, name + "-" + std::to_string(way), input);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const std::vector<Bytes> samples = {
      jc_test_text(300, 1),    jc_test_text(3000, 2), jc_test_mixed(6000, 3),
      jc_test_random(600, 4),  Bytes(700, 0),         {'a', 'b', 'a', 'b', 'a', 0, 0, 1},
      jc_test_mixed(20000, 5),
  };
  for (size_t i = 0; i < samples.size(); ++i) {
    const Bytes& data = samples[i];
    for (int level : {1, 4, 9}) {
      Bytes block;
      jc_encode(data.data(), data.size(), level, &block);
      write_seed(root / "jc_decode_fuzz",
                 "block-" + std::to_string(i) + "-" + std::to_string(level), block);
    }
    Bytes input(1, uint8_t(i));
    input.insert(input.end(), data.begin(), data.begin() + std::min<size_t>(data.size(), 4000));
    write_seed(root / "jc_roundtrip_fuzz", "input-" + std::to_string(i), input);
  }
  Bytes archive;
  for (size_t i = 0; i < 4; ++i) {
    jc_append_pack_entry(archive, samples[i].data(), samples[i].size(), 9, i == 3);
  }
  jc_append_pack_entry(archive, nullptr, 0, 9, false);
  write_seed(root / "pack_walk_fuzz", "archive", archive);

  // Six entries for the whole extraction: no full disk, then a disk that fills up inside
  // the second entry (the first byte chooses).
  Bytes six;
  for (size_t i = 0; i < 6; ++i) {
    const Bytes& data = samples[i % samples.size()];
    const size_t part = std::min<size_t>(data.size(), 1500);
    jc_append_pack_entry(six, data.data(), part, 9, i == 4);
  }
  for (uint8_t fault : {0, 5}) {
    Bytes input(1, extraction_way(0, fault));
    input.insert(input.end(), six.begin(), six.end());
    write_seed(root / "extraction_fuzz", "six-entries-" + std::to_string(fault), input);
  }
  // A named archive appended to a program, run with -y, -n and asking: some targets exist
  // (the second byte), the keys answer j, n, a, and a key that answers nothing (the third).
  const Bytes named = named_archive(samples);
  for (uint8_t way : {1, 2, 3}) {
    for (uint8_t existing : {0x00, 0xA5, 0xFF}) {
      Bytes input = {extraction_way(way, 0), existing, 0xE4};
      input.insert(input.end(), named.begin(), named.end());
      write_seed(root / "extraction_fuzz",
                 "named-" + std::to_string(way) + "-" + std::to_string(existing), input);
    }
  }
  Bytes full_disk = {extraction_way(1, 20), 0xFF, 0};
  full_disk.insert(full_disk.end(), named.begin(), named.end());
  write_seed(root / "extraction_fuzz", "named-full-disk", full_disk);

  // Version 2: files and folders in one block; a file spanning several small blocks between
  // files that start and end inside blocks; settings the stub may pass over, an installer's,
  // and one it must know (it refuses the archive).
  auto head = [](const Bytes& data, size_t size) {
    return Bytes(data.begin(), data.begin() + std::min(size, data.size()));
  };
  const std::vector<SeedItem> tree = {
      {"Dokumente", kNamedEntryDirectory, {}},
      {"Dokumente/Brief.txt", 0, samples[0]},
      {"Dokumente/Unter Ordner/leer.txt", 0, {}},
      {"a/bb/c.bin", 0, head(samples[3], 300)},
      {"\xC3\x9C"
       "bersicht.txt",
       0, head(samples[1], 1200)},
      {"start.sh", kNamedEntryExecutable, samples[5]},
  };
  const std::vector<SeedItem> spanning = {
      {"zufall.bin", 0, jc_test_random(1100, 6)},  // its first block is stored
      {"kopf.txt", 0, head(samples[0], 200)},
      {"gross/teil.bin", 0, samples[2]},
      {"ende.txt", 0, head(samples[1], 150)},
  };
  const std::vector<SeedItem> two = {
      {"eins.txt", 0, head(samples[1], 400)},
      {"zwei/drei.bin", kNamedEntryExecutable, head(samples[2], 300)},
  };
  const Bytes optional_value = {'d', 'e', '-', 'D', 'E'};
  const std::string command = "start.sh --all 'a b'";
  const std::string license = "Terms.\r\nAccept them.\n";
  const std::vector<SeedSetting> installer = {
      {kNamedSettingRun, Bytes(command.begin(), command.end())},
      {kNamedSettingTemp, {}},
      {kNamedSettingLicense, Bytes(license.begin(), license.end())}};
  const std::pair<std::string, Bytes> archives[] = {
      {"named2-tree", named_archive_v2(tree, kNamedBlockMaxSize, {})},
      {"named2-blocks", named_archive_v2(spanning, 1024, {})},
      {"named2-damaged", with_damaged_block(named_archive_v2(spanning, 1024, {}))},
      {"named2-optional",
       named_archive_v2(two, kNamedBlockMaxSize, {{0x0001, optional_value}, {0x0102, {}}})},
      {"named2-installer", named_archive_v2(tree, kNamedBlockMaxSize, installer)},
      {"named2-required",
       named_archive_v2(two, kNamedBlockMaxSize, {{0x0001, optional_value}, {0x8001, {1}}})},
  };
  for (const auto& [name, archive] : archives) {
    if (archive.empty()) {
      std::fprintf(stderr, "fuzz_seeds: %s could not be written\n", name.c_str());
      return 1;
    }
    write_appended_seeds(root / "extraction_fuzz", name, archive);
    Bytes walked(1, 0);  // the archive's own trailer, not one forged over it
    walked.insert(walked.end(), archive.begin(), archive.end());
    write_seed(root / "named_archive_fuzz", name, walked);
  }
  Bytes blocks_full_disk = {extraction_way(1, 20), 0xFF, 0};
  blocks_full_disk.insert(blocks_full_disk.end(), archives[1].second.begin(),
                          archives[1].second.end());
  write_seed(root / "extraction_fuzz", "named2-blocks-full-disk", blocks_full_disk);
  Bytes walked(1, 0);
  walked.insert(walked.end(), named.begin(), named.end());
  write_seed(root / "named_archive_fuzz", "named", walked);
  return 0;
}
