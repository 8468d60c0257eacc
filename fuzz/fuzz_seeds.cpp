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
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write_seed(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
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
  for (uint8_t fault : {0, 40}) {
    Bytes input(1, fault);
    input.insert(input.end(), six.begin(), six.end());
    write_seed(root / "extraction_fuzz", "six-entries-" + std::to_string(fault), input);
  }
  return 0;
}
