// console_demo SCENARIO: runs one console scenario, then waits for a key.
#include <cstdio>

#include "console/console.h"
#include "console/demo/console_scenarios.h"
#include "console/keyboard.h"
#include "platform/process.h"
#include "runtime/workspace.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: console_demo wrap|screen|keys\n");
    return 2;
  }
  main_heap_create();
  string_workspace_create();
  console_open();
  if (!run_console_scenario(argv[1])) {
    std::fprintf(stderr, "console_demo: unknown scenario '%s'\n", argv[1]);
    platform_exit_process(2);
  }
  for (;;) {
    char* mark = string_mark();
    console_poll_key();
    string_rewind(mark);
    if (*mark != 0 || console_input_ended()) break;
  }
  console_close();
  main_heap_destroy();
  platform_exit_process(0);
}
