// What a run does with its archive when the program is given arguments: list it, test it,
// or extract it with the overwrite policy the options chose. Every failure is printed and
// marks the run failed (app/extraction_steps.h).
#pragma once

#include "app/archive_source.h"
#include "app/options.h"

/// Header of the list and the word before its totals.
inline constexpr char kListHeader[] = "     Groesse      Gepackt  Name";
inline constexpr char kListTotal[] = "Eintraege";
/// A tested entry's result, before its name, and the test's last line when all are sound.
inline constexpr char kTestOk[] = "OK      ";
inline constexpr char kTestFailed[] = "FEHLER  ";
inline constexpr char kTestDone[] = "Pruefung erfolgreich beendet!";
/// The announcement of an entry: this, its name, then a closing quote.
inline constexpr char kAnnouncementStart[] = "entpacke '";

/// Prints each entry's size, stored size and name, then the totals and the entry count.
void archive_list(const ArchiveSource& source);

/// Unpacks every entry, checks it and prints its result; writes nothing.
void archive_test(const ArchiveSource& source);

/// Extracts every entry into the program directory, which is current, following `policy`
/// for targets that exist. A named archive's names are used only when safe: each part a
/// plain name, folders made as needed but never through a link or over a file, no name
/// twice; a refused entry fails alone and the run goes on.
void archive_extract(const ArchiveSource& source, OverwritePolicy policy);
