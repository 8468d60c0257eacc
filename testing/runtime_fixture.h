// Test fixture: a fresh main heap and string workspace for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/workspace.h"

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(main_heap_create());
    ASSERT_TRUE(string_workspace_create());
  }
  void TearDown() override { main_heap_destroy(); }

  /// The workspace's first byte, where the tests build their results.
  static char* ws() { return runtime_memory.workspace; }
  static char* cursor() { return runtime_memory.string_cursor; }
  /// Places `text` at the start of the workspace and the cursor on its zero.
  static char* put(const char* text) {
    std::strcpy(ws(), text);
    runtime_memory.string_cursor = ws() + std::strlen(text);
    return ws();
  }
};
