// The dialogue of the program and the self-extractor on their console, in German: each
// entry's announcement, the overwrite question, a failure with its reason, the list and the
// test's lines. The extraction core speaks through it (app/extract_core.h).
#pragma once

#include "app/extract_core.h"

/// Header of the list and the word before its totals.
inline constexpr char kListHeader[] = "     Groesse      Gepackt  Name";
inline constexpr char kListTotal[] = "Eintraege";
/// A tested entry's result, before its name, and the test's last line when all are sound.
inline constexpr char kTestOk[] = "OK      ";
inline constexpr char kTestFailed[] = "FEHLER  ";
inline constexpr char kTestDone[] = "Pruefung erfolgreich beendet!";
/// The announcement of an entry: this, its name, then a closing quote.
inline constexpr char kAnnouncementStart[] = "entpacke '";
/// What follows the failure message before its reason.
inline constexpr char kReasonSeparator[] = ": ";

/// The report that prints on the console.
extern const ExtractReport console_report;
