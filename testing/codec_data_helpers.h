// Deterministic inputs for the codec's tests, fuzz seeds and benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// `size` bytes of noise from `seed`.
inline std::vector<uint8_t> jc_test_random(size_t size, uint64_t seed) {
  std::vector<uint8_t> out(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = uint8_t(x >> 24);
  }
  return out;
}

/// `size` bytes of English-like text: words of a small vocabulary chosen by `seed`.
inline std::vector<uint8_t> jc_test_text(size_t size, uint64_t seed) {
  static const char* const kWords[] = {
      "the ",    "archive ", "of ",    "entries ", "and ",    "block ",  "decoder ",  "reads ",
      "every ",  "bit ",     "match ", "offset ",  "length ", "window ", "literal ",  "zero ",
      "stream ", "pack, ",   "file. ", "Header ",  "size\n",  "from ",   "checksum ", "it "};
  const std::vector<uint8_t> noise = jc_test_random(size, seed);
  std::vector<uint8_t> out;
  for (size_t i = 0; out.size() < size; ++i) {
    for (const char* c = kWords[noise[i % size] % 24]; *c != 0; ++c) out.push_back(uint8_t(*c));
  }
  out.resize(size);
  return out;
}

/// `size` bytes alternating text, noise, zero runs and structured records with small
/// numbers, in stretches of a few kilobytes, with some stretches repeated from far back.
inline std::vector<uint8_t> jc_test_mixed(size_t size, uint64_t seed) {
  std::vector<uint8_t> out;
  const std::vector<uint8_t> choice = jc_test_random(size / 512 + 16, seed);
  for (size_t k = 0; out.size() < size; ++k) {
    const size_t stretch = 1024 + choice[k % choice.size()] * 24;
    std::vector<uint8_t> part;
    switch (choice[k % choice.size()] % 5) {
      case 0:
        part = jc_test_text(stretch, seed + k);
        break;
      case 1:
        part = jc_test_random(stretch / 4, seed + k);
        break;
      case 2:
        part.assign(stretch / 2, 0);
        break;
      case 3:
        for (uint32_t i = 0; part.size() < stretch; ++i) {
          const uint32_t v = i * 40 + uint32_t(seed % 7);
          for (int b = 0; b < 4; ++b) part.push_back(uint8_t(v >> (8 * b)));
          part.push_back(uint8_t(i & 3));
          part.push_back(0x8B);
        }
        break;
      default:
        if (out.size() > 70000) {
          const size_t from = out.size() - 70000 + choice[(k + 1) % choice.size()] * 100;
          part.assign(out.begin() + from, out.begin() + from + stretch);
        }
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}
