// The extraction core: what every front end does with a named archive (the self-extractor,
// the program given options, and jcpack's list, test and unpack) and with the program's
// own archive when it is given options. It lists, tests or extracts the entries of an
// archive source; the policy comes in as a value and every word to the user goes through a
// report the front end gives, so that nothing here knows who called it.
//
// One rule, decided before anything is written: every name of a named archive is checked
// first (safe, not given twice, no file with something below it, and under `fold_case` no
// two names equal ignoring case). Any of these refuses the whole archive: nothing is
// created, emptied or asked about, and each problem is reported with the entries it names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/archive_source.h"
#include "app/overwrite.h"
#include "pack/entry_names.h"

/// What the core does with targets and names.
struct ExtractPolicy {
  OverwritePolicy overwrite;  ///< a target that exists: ask, overwrite, keep
  bool fold_case;             ///< names equal ignoring case (as Windows compares them) are one
};

/// Why an entry, or the archive as a whole, failed.
enum class ExtractProblem : uint8_t {
  unsafe_name,     ///< the name could lead outside the folder or cannot be made (see name_problem)
  name_twice,      ///< another entry has the same name
  case_twin,       ///< another entry's name differs only in case (fold_case)
  below_file,      ///< the name lies below another entry that is a file
  archive_walk,    ///< the entries end out of step with the table (the built-in archive)
  unreadable,      ///< the stored bytes cannot be read
  no_memory,       ///< no room for the entry's bytes
  damaged,         ///< the stored bytes do not unpack to the entry's bytes
  folder_blocked,  ///< a part of its folder is a link or not a folder, or cannot be made
  target_blocked,  ///< the target is a folder, link, read-only file or other non-regular file
  write_failed,    ///< the new file could not be written or put in place
  folder_time,     ///< a folder's modification time could not be set
  no_space,        ///< the new file could not be written: no space left
  permission,      ///< the system refused to make or write the file or its folder
};

/// One failure as the report gets it.
struct ExtractFailure {
  const ArchiveItem* item;  ///< the entry concerned; null for the archive as a whole
  ExtractProblem problem;
  EntryNameProblem name_problem;  ///< for unsafe_name: which rule
  const uint8_t* other_name;      ///< for name_twice, case_twin, below_file: the other entry
  size_t other_name_size;
};

/// The dialogue of a run, given by the front end. Every member is set.
struct ExtractReport {
  /// An entry is about to be extracted.
  void (*announce)(const ArchiveItem& item);
  /// The target of `item` exists with content and the policy asks: the answer
  /// (kDecisionWrite, kDecisionSkip or kDecisionAll).
  OverwriteDecision (*ask)(const ArchiveItem& item);
  /// Something failed; the run goes on unless the failure refuses the whole archive.
  void (*fail)(const ExtractFailure& failure);
  /// One entry of a list.
  void (*listed)(const ArchiveItem& item);
  /// One entry of a test: `sound`, or the problem that keeps it from being written.
  void (*tested)(const ArchiveItem& item, bool sound, ExtractProblem problem);
  /// The end of a list: the sums of the sizes and the number of entries.
  void (*totals)(uint64_t unpacked, uint64_t stored, uint32_t count);
  /// An extraction has dealt with `bytes` of its files' bytes so far (written, kept or
  /// failed), told as pieces are written and after each entry; null: not told.
  void (*progress)(uint64_t bytes);
};

/// Whether every name of `source` passes the rule (a built-in archive has no names to
/// check); each problem is reported. Reads only the table.
bool extract_check_names(const ArchiveSource& source, const ExtractPolicy& policy,
                         const ExtractReport& report);

/// Lists every entry, then the totals; true when the names pass the rule and the walk ends
/// where it should. Unpacks nothing.
bool extract_list(const ArchiveSource& source, const ExtractPolicy& policy,
                  const ExtractReport& report);

/// Unpacks and checks every entry, writes nothing; true when every entry is sound and the
/// names pass the rule, i.e. exactly when an extraction would write every entry.
bool extract_test(const ArchiveSource& source, const ExtractPolicy& policy,
                  const ExtractReport& report);

/// Extracts every entry into the current folder, following `policy` for targets that
/// exist. Call it only once extract_check_names has passed the archive with the same
/// policy: a front end does that before it makes or enters the folder the entries go to, so
/// that a refused archive makes nothing. True when every entry was written or kept by the
/// policy or an answer.
bool extract_all(const ArchiveSource& source, const ExtractPolicy& policy,
                 const ExtractReport& report);

/// Whether `name` (relative to the current folder) is a regular file with content, a link
/// not followed: the targets that get the question. One that cannot be opened is asked
/// about too: it may well have content.
bool target_has_content(const char* name);
