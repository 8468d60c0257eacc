#include "app/overwrite.h"

#include "console/console.h"
#include "console/keyboard.h"
#include "files/file_queries.h"
#include "runtime/string_ops.h"
#include "runtime/workspace.h"

namespace {

/// The lower-cased first character of the next key press, stored in `answer` (empty when
/// no key press was waiting).
void poll_answer(char** answer) {
  char* mark = string_mark();
  console_poll_key();
  string_head(mark, 1, mark);
  string_to_lower(mark, mark);
  string_assign_from_workspace(answer, mark);
}

}  // namespace

OverwriteDecision ask_overwrite() {
  return ask_overwrite_with(kOverwriteQuestion, false);
}

OverwriteDecision ask_overwrite_with(const char* question, bool yes_too) {
  char* answer = nullptr;
  OverwriteDecision result = kDecisionWrite;
  console_print_line(question);
  for (;;) {
    poll_answer(&answer);
    if (string_equal(answer, "j") || (yes_too && string_equal(answer, "y"))) break;
    if (string_equal(answer, "n")) {
      result = kDecisionSkip;
      break;
    }
    if (string_equal(answer, "a")) {
      result = kDecisionAll;
      break;
    }
    if (string_equal(answer, "") && console_input_ended()) {
      result = kDecisionSkip;
      break;
    }
  }
  string_release(answer);
  return result;
}

OverwriteDecision confirm_overwrite(const char* target_name) {
  char* name_copy = nullptr;
  string_assign_copy(&name_copy, target_name);
  const OverwriteDecision result =
      file_size_probe(name_copy) > 0 ? ask_overwrite() : kDecisionWrite;
  string_release(name_copy);
  return result;
}
