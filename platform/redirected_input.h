// Keys from a standard input that is not a console: one key per byte, read one byte ahead,
// so that a waiting loop can be told how many keys are queued (none or one) and when the
// input has ended. Both back ends keep one such record; each reads the bytes its own way
// and hands every read's outcome to redirected_input_take.
#pragma once

#include <cstdint>

#include "platform/console.h"

/// Outcomes of one read besides a byte (0 to 255).
inline constexpr int kRedirectedNothingYet = -1;  ///< no byte came within the wait
inline constexpr int kRedirectedEnd = -2;         ///< the input has ended, or failed

/// The byte read ahead and whether the input has ended.
struct RedirectedInput {
  int lookahead = kRedirectedNothingYet;  ///< the byte read ahead, or kRedirectedNothingYet
  bool ended = false;                     ///< no byte will come after the lookahead
};

/// Whether a read should be made now: no byte is waiting and the input has not ended.
bool redirected_input_wants_byte(const RedirectedInput& input);

/// Keeps the outcome of a read: a byte becomes the lookahead, kRedirectedEnd ends the input,
/// kRedirectedNothingYet changes nothing.
void redirected_input_take(RedirectedInput& input, int outcome);

/// Keys waiting: 1 when a byte has been read ahead, else 0.
uint32_t redirected_input_count(const RedirectedInput& input);

/// Hands the waiting byte out as a key press into `record`; false when none is waiting.
bool redirected_input_next(RedirectedInput& input, ConsoleInputRecord* record);

/// Whether the input has ended and its last byte has been handed out.
bool redirected_input_ended(const RedirectedInput& input);
