// Entry names: the relative paths under which a named archive's entries are extracted, and
// the check that keeps every one of them inside the folder it is extracted into, on POSIX
// systems and on Windows alike.
//
// A name is UTF-8, its parts separated by `/`. It is safe when it is 1 to
// kEntryNameMaxSize bytes of valid UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) and every part is a plain name:
//   - 1 to kEntryNamePartMaxSize bytes, so no leading `/`, no `//` and no trailing `/`;
//   - not `.` or `..`;
//   - no control character (bytes 0-31 and 127), no `\` and no `:` (which also rules out
//     drive letters and alternate data streams);
//   - no trailing dot or space, which Windows drops, so that `a.` would name `a`;
//   - not a Windows device name: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 and the
//     superscript forms COM¹-COM³ and LPT¹-LPT³, CONIN$ and CONOUT$, in any case, alone or
//     with an extension, also with spaces before the extension (`nul .txt`).
// Everything else is accepted, non-ASCII letters included (`Grüße/€.txt`).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/name_case.h"

inline constexpr size_t kEntryNameMaxSize = 1024;  ///< bytes of a whole name
static_assert(kEntryNameMaxSize <= kNameCaseMaxSize, "the case rule folds every safe name");
inline constexpr size_t kEntryNamePartMaxSize = 255;  ///< bytes between two `/`
inline constexpr char kEntryNameSeparator = '/';

/// Why a name is refused; `ok` for a safe one.
enum class EntryNameProblem : uint8_t {
  ok,
  empty,                  ///< no bytes at all
  too_long,               ///< more than kEntryNameMaxSize bytes
  invalid_utf8,           ///< not valid UTF-8
  absolute,               ///< starts with `/`
  empty_part,             ///< `//` or a trailing `/`
  part_too_long,          ///< a part of more than kEntryNamePartMaxSize bytes
  dot_part,               ///< a part that is `.` or `..`
  control_character,      ///< a byte 0-31 or 127
  forbidden_character,    ///< `\` or `:`
  trailing_dot_or_space,  ///< a part that ends with `.` or ` `
  device_name,            ///< a part that Windows opens as a device
};

/// The length of the UTF-8 sequence that starts at `s` (`left` bytes, at least 1, are
/// there), or 0 when it is not a valid one: overlong forms, surrogates and code points
/// above U+10FFFF fail.
size_t utf8_sequence_size(const uint8_t* s, size_t left);

/// Checks the `size` bytes at `name` (null only with size 0); `ok` when the name is safe to
/// extract, otherwise the first problem found.
EntryNameProblem entry_name_check(const uint8_t* name, size_t size);

/// Whether the name is safe to extract (entry_name_check gives `ok`).
inline bool entry_name_is_safe(const uint8_t* name, size_t size) {
  return entry_name_check(name, size) == EntryNameProblem::ok;
}

/// A short description of `problem` for messages ("a part is . or ..").
const char* entry_name_problem_text(EntryNameProblem problem);

/// Whether two names are the same file on a system that ignores case, as Windows does: the
/// rule of platform/name_case.h (names_equal_ignoring_case, which new code calls directly;
/// name_hash_ignoring_case is its hash).
inline bool entry_names_equal_ignoring_case(const uint8_t* a, size_t a_size, const uint8_t* b,
                                            size_t b_size) {
  return names_equal_ignoring_case(a, a_size, b, b_size);
}
