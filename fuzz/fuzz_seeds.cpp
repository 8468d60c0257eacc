// Writes seed corpora for the fuzz targets into DIR/<target>/: valid blocks, encoder
// inputs and archives made from the codec's test data.
//   fuzz_seeds DIR
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
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
  return 0;
}
