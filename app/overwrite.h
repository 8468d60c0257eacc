// The overwrite question: asked before a target that already has content is replaced.
#pragma once

#include <cstdint>

/// What to do with a target.
enum OverwriteDecision : int8_t {
  kDecisionNone = 0,   ///< nothing answered yet
  kDecisionWrite = 1,  ///< write this file
  kDecisionSkip = 2,   ///< leave this file as it is
  kDecisionAll = 3,    ///< write this file and every following one without asking
};

/// What happens to a target that exists already.
enum class OverwritePolicy : uint8_t {
  ask,    ///< the question, as without arguments
  all,    ///< overwritten without asking
  never,  ///< kept without asking
};

inline constexpr char kOverwriteQuestion[] =
    "Datei bereits vorhanden! Ueberschreiben? [(J)a/(N)ein/(A)lle]";

/// Probes `target_name` with the built-in run's own size probe (kept on purpose: the run
/// without arguments asks exactly as it always has; every other run asks by
/// target_has_content in app/extract_core.h); a missing or empty file, a directory or a
/// drive is written without asking. A file with content gets the question, and keys are read until
/// j, n or a (either case) is pressed; other keys are ignored. When the input is not a console and
/// has ended, the answer is n: nothing is overwritten without an answer.
OverwriteDecision confirm_overwrite(const char* target_name);

/// Prints the question and reads keys until j, n or a (either case); other keys are
/// ignored, and the end of an input that is not a console answers n.
OverwriteDecision ask_overwrite();

/// Prints `question` and reads keys as ask_overwrite does; with `yes_too`, y is taken for
/// j.
OverwriteDecision ask_overwrite_with(const char* question, bool yes_too);
