#include "platform/redirected_input.h"

#include "platform/key_records.h"

bool redirected_input_wants_byte(const RedirectedInput& input) {
  return input.lookahead < 0 && !input.ended;
}

void redirected_input_take(RedirectedInput& input, int outcome) {
  if (outcome >= 0)
    input.lookahead = outcome & 0xFF;
  else if (outcome == kRedirectedEnd)
    input.ended = true;
}

uint32_t redirected_input_count(const RedirectedInput& input) {
  return input.lookahead >= 0 ? 1 : 0;
}

bool redirected_input_next(RedirectedInput& input, ConsoleInputRecord* record) {
  if (input.lookahead < 0) return false;
  *record = key_of_byte(static_cast<uint8_t>(input.lookahead));
  input.lookahead = kRedirectedNothingYet;
  return true;
}

bool redirected_input_ended(const RedirectedInput& input) {
  return input.ended && input.lookahead < 0;
}
