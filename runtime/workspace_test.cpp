#include "runtime/workspace.h"

#include <cstring>
#include <string>

#include "testing/runtime_fixture.h"

using WorkspaceTest = RuntimeTest;

TEST_F(WorkspaceTest, ComparisonsAreUnsignedAndTreatNullAsEmpty) {
  EXPECT_EQ(string_equal(nullptr, ""), 1);
  EXPECT_EQ(string_equal("j", "J"), 0);
  EXPECT_EQ(string_equal("ab", "ab"), 1);
  EXPECT_EQ(string_less("ab", "abc"), 1);
  EXPECT_EQ(string_greater("ab", "abc"), 0);
  EXPECT_EQ(string_greater("abc", "ab"), 1);
  EXPECT_EQ(string_less("x", "x"), 0);
  EXPECT_EQ(string_greater("x", "x"), 0);
  EXPECT_EQ(string_greater("\x80", "\x7f"), 1);
  EXPECT_EQ(string_less("\x7f", "\xff"), 1);
  EXPECT_EQ(string_less(nullptr, "a"), 1);
}

TEST_F(WorkspaceTest, AssignFromWorkspaceCopiesAndRewinds) {
  char* var = nullptr;
  char* mark = put("");
  string_append("hello");
  EXPECT_EQ(cursor(), mark + 5);
  string_assign_from_workspace(&var, mark);
  EXPECT_STREQ(var, "hello");
  EXPECT_EQ(cursor(), mark);

  // An empty result stores an empty string, not null.
  string_assign_from_workspace(&var, mark);
  ASSERT_NE(var, nullptr);
  EXPECT_STREQ(var, "");
  EXPECT_EQ(cursor(), mark);

  // An embedded zero: only the bytes up to the first zero are kept.
  std::memcpy(mark, "ab\0cd", 6);
  runtime_memory.string_cursor = mark + 5;
  string_assign_from_workspace(&var, mark);
  EXPECT_STREQ(var, "ab");
  string_release(var);
}

TEST_F(WorkspaceTest, AssignCopyAndAssign) {
  char* var = nullptr;
  string_assign_copy(&var, nullptr);
  EXPECT_EQ(var, nullptr);
  string_assign_copy(&var, "abc");
  EXPECT_STREQ(var, "abc");
  string_assign(&var, "longer text");
  EXPECT_STREQ(var, "longer text");
  // A variable assigned to itself keeps its text.
  string_assign(&var, var);
  EXPECT_STREQ(var, "longer text");
  string_assign(&var, var + 7);
  EXPECT_STREQ(var, "text");
  string_assign(&var, nullptr);
  EXPECT_EQ(var, nullptr);
  string_release(var);
}

TEST_F(WorkspaceTest, AppendContinuesTheStringAndNullWritesZeros) {
  char* mark = put("");
  string_append("ab");
  string_append("cd");
  EXPECT_STREQ(mark, "abcd");
  EXPECT_EQ(cursor(), mark + 4);
  std::memset(mark + 4, 'x', 8);
  string_append(nullptr);
  EXPECT_EQ(cursor(), mark + 4);
  EXPECT_EQ(std::memcmp(mark + 4, "\0\0\0\0xxxx", 8), 0);
}

TEST_F(WorkspaceTest, AppendNeverWritesPastTheWorkspace) {
  std::string big(kStringWorkspaceSize + 100, 'z');
  char* mark = put("");
  string_append(big.c_str());
  char* last = ws() + kStringWorkspaceSize - 1;
  EXPECT_EQ(cursor(), last);
  EXPECT_EQ(*last, 0);
  EXPECT_EQ(std::strlen(mark), kStringWorkspaceSize - 1u);
  string_append("more");  // nothing left: stays cut
  EXPECT_EQ(cursor(), last);
  string_append(nullptr);  // four zeros would cross the end: only the room left is written
  EXPECT_EQ(*last, 0);
  char* var = nullptr;
  string_assign_from_workspace(&var, mark);
  EXPECT_EQ(std::strlen(var), kStringWorkspaceSize - 1u);
  string_release(var);
}

TEST_F(WorkspaceTest, FailedAllocationLeavesVariableNull) {
  PlatformHeap roomy = runtime_memory.main_heap;
  runtime_memory.main_heap = platform_heap_create(kMainHeapInitialSize, 16);
  char* var = nullptr;
  string_assign_copy(&var, "a text far longer than sixteen bytes");
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(string_equal(var, ""), 1);
  char* mark = put("");
  string_append("also far longer than sixteen bytes");
  string_assign_from_workspace(&var, mark);
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(cursor(), mark);
  string_assign(&var, "ok");  // small enough
  EXPECT_STREQ(var, "ok");
  platform_heap_destroy(runtime_memory.main_heap);
  runtime_memory.main_heap = roomy;
}
