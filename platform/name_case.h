// The case rule of names: whether two names are the same file on a system that ignores the
// case of letters, as Windows does. Names are UTF-8 bytes with a size (no terminating zero),
// of at most kNameCaseMaxSize bytes; a longer name is equal only to the same bytes.
//
// Every name has a key (name_case_key): two names are equal under the rule exactly when
// their keys are the same bytes, so a sorted list or a hash set of keys finds twins. The
// rule has two back ends:
//   - on Windows the system's own, by which its file systems compare names: the invariant
//     upper-case mapping of the name in UTF-16 (the key is those UTF-16 units);
//   - elsewhere (jcpack making or checking a self-extractor for Windows, or a run asked to
//     compare names as Windows does) the simple case folding of the Unicode character
//     database (statuses C and S of CaseFolding.txt, and the dotless ı folded as its upper
//     case I is; a table made at build time by tools/case_fold_gen.cpp; the key is the folded
//     name in UTF-8). It joins a few pairs that Windows keeps apart (the Kelvin sign and `k`,
//     `ẞ` and `ß`, the title-case `ǅ` and `ǆ`, the final `ς` and `σ`), so it finds more
//     twins than Windows, not fewer.
// Both join `Übersicht.txt` and `übersicht.TXT`, `Ω.txt` and `ω.txt`, `Д` and `д`,
// fullwidth `Ａ` and `ａ`; neither makes `ß` equal to `ss`. A byte that is not part of valid
// UTF-8 is kept as it is (on Windows a name that is not valid UTF-8 is equal only to the same
// bytes). Nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

/// Bytes of the longest name the rule folds (kEntryNameMaxSize of pack/entry_names.h).
inline constexpr size_t kNameCaseMaxSize = 1024;

/// Bytes of the longest key: a folded letter may take more bytes than the letter (Ⱥ, two
/// bytes, folds to ⱥ, three), and UTF-16 takes two bytes a unit; one byte of mark besides.
inline constexpr size_t kNameCaseKeyMaxSize = 2 * kNameCaseMaxSize + 1;

/// Writes the key of the `size` bytes at `name` (null only with size 0; size at most
/// kNameCaseMaxSize) into `key` (kNameCaseKeyMaxSize bytes, aligned for uint16_t) and returns
/// its size. Equal keys are names equal under the rule.
size_t name_case_key(const uint8_t* name, size_t size, uint8_t* key);

/// Whether the two names are the same file under the rule.
bool names_equal_ignoring_case(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size);

/// A hash of the name that is the same for names equal under the rule (FNV-1a over the key).
uint32_t name_hash_ignoring_case(const uint8_t* name, size_t size);
