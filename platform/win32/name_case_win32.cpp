// The case rule on Windows: the system's own, by which its file systems compare names. A
// name's key is the invariant upper-case mapping of the name in UTF-16. A name that is not
// valid UTF-8 keeps its bytes as its key, with a byte of mark after them and, where that
// makes an even size, a second, other one: an odd size never equals the key of a valid name,
// and the two marks keep two such names apart.
#include <windows.h>

#include <cstring>

#include "platform/name_case.h"

namespace {

constexpr uint8_t kBytesMark = 0xFF;
constexpr uint8_t kEvenSizeMark = 0xFE;

}  // namespace

size_t name_case_key(const uint8_t* name, size_t size, uint8_t* key) {
  if (size == 0) return 0;
  wchar_t wide[kNameCaseMaxSize];
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(name),
                          int(size), wide, int(kNameCaseMaxSize));
  if (units > 0 &&
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide, units,
                    reinterpret_cast<wchar_t*>(key), units, nullptr, nullptr, 0) == units)
    return size_t(units) * sizeof(wchar_t);
  std::memcpy(key, name, size);
  size_t key_size = size;
  key[key_size++] = kBytesMark;
  if (key_size % 2 == 0) key[key_size++] = kEvenSizeMark;
  return key_size;
}
