// Test fixture: a runtime and a console opened on a memory console of a given geometry.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "runtime/workspace.h"
#include "testing/memory_console_helpers.h"

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(main_heap_create());
    ASSERT_TRUE(string_workspace_create());
    open(80, 25, 80, 25);
  }
  void TearDown() override {
    console_close();
    platform_console_install(nullptr);
    console_state = ConsoleState{};
    main_heap_destroy();
  }

  /// Reopens the console on a fresh memory console of the given geometry.
  void open(int16_t columns, int16_t rows, int16_t window_columns, int16_t window_rows) {
    console_close();
    console_state = ConsoleState{};
    memory_console_init(&screen, columns, rows, window_columns, window_rows);
    platform_console_install(&screen);
    ASSERT_NE(console_open(), 0);
  }

  void place(int x, int y) {
    console_state.buffer_info.cursor_position = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
  }
  ConsoleCoord cursor() const { return console_state.buffer_info.cursor_position; }
  std::string row(int y) const { return memory_console_row(&screen, y); }
  char cell(int x, int y) const {
    return static_cast<char>(memory_console_cell(&screen, x, y).character);
  }
  uint16_t colour(int x, int y) const { return memory_console_cell(&screen, x, y).attributes; }

  MemoryConsole screen;
};
