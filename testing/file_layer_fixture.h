// Test support: a scratch directory and a freshly started file layer (main heap, string
// workspace, object heap and file table) for each test, all released afterwards.
#pragma once

#include <gtest/gtest.h>

#include "files/file_table.h"
#include "runtime/workspace.h"
#include "testing/scratch_directory_fixture.h"

class FileLayerTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    ASSERT_TRUE(main_heap_create());
    ASSERT_TRUE(string_workspace_create());
    ASSERT_NE(object_heap_create(), nullptr);
    ASSERT_TRUE(file_table_init());
  }

  void TearDown() override {
    file_close_all();
    object_heap_destroy();
    main_heap_destroy();
    file_table = FileTable{};
    ScratchDirectoryTest::TearDown();
  }
};
