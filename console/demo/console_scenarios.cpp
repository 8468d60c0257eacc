#include "console/demo/console_scenarios.h"

#include <cstring>
#include <string>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "runtime/string_ops.h"
#include "runtime/workspace.h"

namespace {

constexpr int kKeysToRead = 3;

void wrap_scenario() {
  for (int line = 1; line <= 30; ++line) {
    char* mark = string_mark();
    decimal_string_of(line, mark);
    string_append(": ");
    // Every fourth line is long enough to wrap over two or three rows.
    const int words = line % 4 == 0 ? 28 + line : 5;
    for (int w = 0; w < words; ++w) string_append(w % 2 ? "Ueberschreiben " : "\xe4nderung ");
    console_print_line(mark);
    string_rewind(mark);
  }
  console_print("no line break at the end");
}

void screen_scenario() {
  console_print_line("this line is cleared away");
  console_set_color(14, 1);
  console_clear();
  console_locate(10, 5);
  console_print("located at column 10, row 5");
  console_set_color(7, 0);
  console_locate(0, 12);
  console_print_line("back in grey");
  console_set_color(12, 0);
  console_print("red text, cursor after it");
}

void keys_scenario() {
  console_print_line("press three keys");
  for (int read = 0; read < kKeysToRead && !console_input_ended();) {
    char* mark = string_mark();
    char* key = console_poll_key();
    if (key[0] == 0) {
      string_rewind(mark);
      continue;
    }
    const int character = static_cast<unsigned char>(key[0]);
    const int scan = static_cast<unsigned char>(key[1]);
    string_rewind(mark);
    string_append("key ");
    decimal_string_of(character, string_mark());
    string_append(" scan ");
    decimal_string_of(scan, string_mark());
    console_print_line(mark);
    string_rewind(mark);
    ++read;
  }
  console_print("done");
}

}  // namespace

bool run_console_scenario(const char* name) {
  if (std::strcmp(name, "wrap") == 0)
    wrap_scenario();
  else if (std::strcmp(name, "screen") == 0)
    screen_scenario();
  else if (std::strcmp(name, "keys") == 0)
    keys_scenario();
  else
    return false;
  return true;
}
