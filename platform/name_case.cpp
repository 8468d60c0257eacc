// The case rule's equality and hash, over the keys of the platform's back end.
#include "platform/name_case.h"

#include <cstring>

namespace {

constexpr uint32_t kFnvOffsetBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

}  // namespace

bool names_equal_ignoring_case(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  if (a_size > kNameCaseMaxSize || b_size > kNameCaseMaxSize)
    return a_size == b_size && std::memcmp(a, b, a_size) == 0;
  alignas(4) uint8_t a_key[kNameCaseKeyMaxSize];
  alignas(4) uint8_t b_key[kNameCaseKeyMaxSize];
  const size_t a_key_size = name_case_key(a, a_size, a_key);
  return a_key_size == name_case_key(b, b_size, b_key) &&
         std::memcmp(a_key, b_key, a_key_size) == 0;
}

uint32_t name_hash_ignoring_case(const uint8_t* name, size_t size) {
  alignas(4) uint8_t key[kNameCaseKeyMaxSize];
  const bool long_name = size > kNameCaseMaxSize;
  const size_t key_size = long_name ? size : name_case_key(name, size, key);
  const uint8_t* bytes = long_name ? name : key;
  uint32_t hash = kFnvOffsetBasis;
  for (size_t i = 0; i < key_size; ++i) hash = (hash ^ bytes[i]) * kFnvPrime;
  return hash;
}
