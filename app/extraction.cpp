#include "app/extraction.h"

#include "console/console.h"
#include "console/keyboard.h"
#include "platform/process.h"
#include "runtime/workspace.h"

namespace {

constexpr char kClosingPrompt[] = "Beliebige Taste zum beenden...";

struct ProgramState {
  void* module_instance;
};

ProgramState program_state;

}  // namespace

void wait_for_any_key() {
  for (;;) {
    char* mark = string_mark();
    console_poll_key();
    string_rewind(mark);
    if (*mark != 0 || console_input_ended()) return;
  }
}

void extraction_main(void* module_instance) {
  program_state = ProgramState{};
  program_state.module_instance = module_instance;
  main_heap_create();
  string_workspace_create();
  console_open();

  console_print_line("");
  console_print_line(kClosingPrompt);
  wait_for_any_key();

  console_close();
  main_heap_destroy();
  platform_exit_process(0);
}
