#include "files/file_table.h"

#include <gtest/gtest.h>

#include <string>

#include "files/file_data.h"
#include "platform/open_file_list.h"
#include "testing/file_layer_fixture.h"

namespace {

using FileTableTest = FileLayerTest;

/// True when no handle of this process has `name` open (an exclusive open succeeds).
bool closed_everywhere(const char* name) {
  PlatformFile probe = platform_file_open(name, kFileAccessRead | kFileAccessWrite, kFileShareNone,
                                          FileDisposition::kOpenExisting);
  if (probe == kPlatformInvalidFile) return false;
  platform_file_close(probe);
  return true;
}

TEST_F(FileTableTest, OpenMakesCurrentAndCloseForgets) {
  FileReference result = file_open_for_update(0, "pactest.pac");
  ASSERT_NE(result, 0);
  EXPECT_EQ(reinterpret_cast<PlatformFile>(result), file_table.current_handle);
  EXPECT_EQ(file_slot_find(0), &file_table.slots[0]);
  EXPECT_FALSE(closed_everywhere("pactest.pac"));

  file_close(0);
  EXPECT_EQ(file_slot_find(0), nullptr);
  EXPECT_EQ(file_table.current_handle, nullptr);  // the closed file is no longer current
  EXPECT_TRUE(closed_everywhere("pactest.pac"));
  file_close(0);  // a second close does nothing
  EXPECT_EQ(file_select_current(0), nullptr);
}

/// "f" and the number `n`, built by appending (GCC 12 at -O3 misreads a concatenation of a
/// literal and a temporary here as an overlapping copy).
std::string numbered_name(int n) {
  std::string name = "f";
  name.append(std::to_string(n));
  return name;
}

TEST_F(FileTableTest, GrowsToNumberPlusTenKeepingOpenFiles) {
  for (int n = 0; n < 10; ++n) {
    ASSERT_NE(file_open_for_update(n, numbered_name(n).c_str()), 0);
  }
  PlatformFile current = file_table.current_handle;
  // Number 10 is beyond the table before it is opened: not open for close or select.
  file_close(10);
  EXPECT_EQ(file_select_current(10), current);

  ASSERT_NE(file_open_for_update(10, "ten"), 0);
  EXPECT_EQ(file_table.capacity, 20);
  ASSERT_NE(file_open_for_update(25, "twenty-five"), 0);
  EXPECT_EQ(file_table.capacity, 35);
  for (int n = 0; n < 10; ++n) {
    ASSERT_NE(file_slot_find(n), nullptr) << n;
    EXPECT_EQ(file_select_current(n), *file_slot_find(n));
  }
  EXPECT_EQ(file_slot_find(35), nullptr);  // the last slot never holds a file
  file_close_all();
  for (int n = 0; n < 10; ++n) EXPECT_TRUE(closed_everywhere(numbered_name(n).c_str()));
  EXPECT_TRUE(closed_everywhere("twenty-five"));
}

TEST_F(FileTableTest, DynamicIdsNewestFirstAndCloseAll) {
  ASSERT_NE(file_open_for_update(0, "numbered"), 0);
  FileReference first = file_open_for_update(kNewDynamicFile, "one");
  FileReference second = file_open_for_update(kNewDynamicFile, "two");
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(file_table.current_handle, *file_slot_find(second));
  ASSERT_NE(file_table.dynamic_list, nullptr);
  EXPECT_EQ(reinterpret_cast<FileReference>(&file_table.dynamic_list->handle), second);
  EXPECT_EQ(reinterpret_cast<FileReference>(&file_table.dynamic_list->next->handle), first);

  EXPECT_EQ(file_select_current(first), *file_slot_find(first));
  file_close(second);  // closing the head leaves the older node as the list
  EXPECT_EQ(file_slot_find(second), nullptr);
  EXPECT_NE(file_slot_find(first), nullptr);
  EXPECT_TRUE(closed_everywhere("two"));

  FileReference third = file_open_for_update(kNewDynamicFile, "three");
  file_close(first);  // closing a node in the middle of the list
  EXPECT_EQ(file_slot_find(first), nullptr);
  EXPECT_NE(file_slot_find(third), nullptr);

  file_close_all();
  EXPECT_EQ(file_table.dynamic_list, nullptr);
  EXPECT_EQ(file_slot_find(third), nullptr);
  EXPECT_EQ(file_slot_find(0), nullptr);
  EXPECT_TRUE(closed_everywhere("numbered"));
  EXPECT_TRUE(closed_everywhere("three"));
}

TEST_F(FileTableTest, ClosingTheMiddleNodeKeepsBothLinksOfItsNeighbours) {
  const FileReference oldest = file_open_for_update(kNewDynamicFile, "oldest");
  const FileReference middle = file_open_for_update(kNewDynamicFile, "middle");
  const FileReference newest = file_open_for_update(kNewDynamicFile, "newest");
  ASSERT_NE(oldest, 0);
  ASSERT_NE(middle, 0);
  ASSERT_NE(newest, 0);
  file_close(middle);
  FileNode* head = file_table.dynamic_list;
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(reinterpret_cast<FileReference>(&head->handle), newest);
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(reinterpret_cast<FileReference>(&head->next->handle), oldest);
  EXPECT_EQ(head->next->prev, head);
  EXPECT_EQ(head->next->next, nullptr);
  EXPECT_TRUE(closed_everywhere("middle"));
  // The tail can still be closed through its back link, and then the head alone is left.
  file_close(oldest);
  EXPECT_EQ(file_table.dynamic_list, head);
  EXPECT_EQ(head->next, nullptr);
  file_close(newest);
  EXPECT_EQ(file_table.dynamic_list, nullptr);
}

TEST_F(FileTableTest, CloseAllClosesTheIdsNewestFirstThenTheNumbersUpward) {
  const FileReference older = file_open_for_update(kNewDynamicFile, "older");
  ASSERT_NE(file_open_for_update(3, "three"), 0);
  const FileReference newer = file_open_for_update(kNewDynamicFile, "newer");
  ASSERT_NE(file_open_for_update(1, "one"), 0);
  const PlatformFile expected[] = {*file_slot_find(newer), *file_slot_find(older),
                                   *file_slot_find(1), *file_slot_find(3)};
  const void* closed[8] = {};
  size_t count = 0;
  open_file_list_watch_removals(closed, 8, &count);
  file_close_all();
  open_file_list_watch_removals(nullptr, 0, nullptr);
  ASSERT_EQ(count, 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(closed[i], expected[i]) << i;
}

TEST_F(FileTableTest, ANewFileIsMadeByTheOpenAndSharedWithNobody) {
  write_file("taken", "a user's file");
  EXPECT_EQ(file_create_new(0, "taken"), 0);
  EXPECT_EQ(read_file("taken"), "a user's file");
  ASSERT_NE(file_create_new(0, "fresh"), 0);
  EXPECT_EQ(file_open_for_reading(1, "fresh"), 0);  // nobody else may open it meanwhile
  file_select_current(0);
  ASSERT_NE(current_file_write_block("new", 3), 0);
  EXPECT_NE(current_file_flush(), 0);
  file_close(0);
  EXPECT_EQ(current_file_flush(), 0);  // no current file
  EXPECT_EQ(read_file("fresh"), "new");
  EXPECT_EQ(file_create_new(0, "fresh"), 0);  // made once only
}

TEST_F(FileTableTest, FailedOpenClearsCurrentOnly) {
  FileReference good = file_open_for_update(1, "good");
  ASSERT_NE(good, 0);
  EXPECT_EQ(file_open_for_reading(1, "missing"), 0);
  EXPECT_EQ(file_table.current_handle, nullptr);
  ASSERT_NE(file_slot_find(1), nullptr);
  EXPECT_EQ(reinterpret_cast<FileReference>(*file_slot_find(1)), good);
  EXPECT_EQ(file_open_exclusive(kNewDynamicFile, "missing"), 0);
  EXPECT_EQ(file_table.dynamic_list, nullptr);  // no node for a refused open
}

TEST_F(FileTableTest, ReopeningANumberFollowsSharing) {
  write_file("data", "x");
  ASSERT_NE(file_open_for_update(0, "data"), 0);
  PlatformFile update = *file_slot_find(0);
  EXPECT_EQ(file_open_for_reading(0, "data"), 0);  // mode 1 beside mode 2 is refused
  EXPECT_EQ(*file_slot_find(0), update);
  EXPECT_EQ(file_open_exclusive(1, "data"), 0);
  file_close(0);

  FileReference old_handle = file_open_for_reading(0, "data");
  ASSERT_NE(old_handle, 0);
  FileReference new_handle = file_open_for_reading(0, "data");  // mode 1 beside mode 1
  ASSERT_NE(new_handle, 0);
  EXPECT_EQ(reinterpret_cast<FileReference>(*file_slot_find(0)), new_handle);
  EXPECT_EQ(platform_file_size(reinterpret_cast<PlatformFile>(old_handle)), kFileQueryFailed);
  file_close(0);
  EXPECT_TRUE(closed_everywhere("data"));
}

TEST_F(FileTableTest, ReferencesThatAreNotOpen) {
  ASSERT_NE(file_open_for_update(0, "zero"), 0);
  PlatformFile current = file_table.current_handle;
  FileReference closed_id = file_open_for_update(kNewDynamicFile, "dynamic");
  file_close(closed_id);
  file_select_current(0);
  PlatformFile never_issued = nullptr;
  const FileReference others[] = {-2, INTPTR_MIN, 1000, closed_id,
                                  reinterpret_cast<FileReference>(&never_issued)};
  for (FileReference r : others) {
    EXPECT_EQ(file_slot_find(r), nullptr) << r;
    EXPECT_EQ(file_select_current(r), current) << r;
    file_close(r);
  }
  EXPECT_EQ(file_slot_find(kNewDynamicFile), nullptr);
  EXPECT_EQ(file_select_current(kNewDynamicFile), current);
  file_close(kNewDynamicFile);
  EXPECT_EQ(never_issued, nullptr);
  EXPECT_NE(file_slot_find(0), nullptr);
}

TEST_F(FileTableTest, OpenUnderAReferenceThatCannotTakeAFile) {
  const FileReference refused[] = {-2, static_cast<FileReference>(kMaxFileNumber) + 1, INTPTR_MAX};
  for (FileReference r : refused) {
    EXPECT_EQ(file_open_for_update(r, "f"), 0) << r;
    EXPECT_EQ(file_table.current_handle, nullptr);
    EXPECT_TRUE(closed_everywhere("f")) << r;  // the new handle was closed again
  }
  FileReference closed_id = file_open_for_update(kNewDynamicFile, "g");
  file_close(closed_id);
  // Where heap addresses lie among the file numbers (Windows heaps), a closed id reads as
  // a number like any other; elsewhere it can take no file.
  if (closed_id > kMaxFileNumber) {
    EXPECT_EQ(file_open_for_update(closed_id, "f"), 0);
    EXPECT_TRUE(closed_everywhere("f"));
    EXPECT_EQ(file_table.capacity, kFileTableInitialCapacity);
  }
}

TEST_F(FileTableTest, ReopeningAnOpenIdKeepsTheId) {
  FileReference id = file_open_for_update(kNewDynamicFile, "a");
  ASSERT_NE(id, 0);
  FileReference handle = file_open_for_update(id, "b");  // the new handle, as for a number
  ASSERT_NE(file_slot_find(id), nullptr);
  EXPECT_EQ(reinterpret_cast<FileReference>(*file_slot_find(id)), handle);
  EXPECT_TRUE(closed_everywhere("a"));
  EXPECT_FALSE(closed_everywhere("b"));
  EXPECT_EQ(file_table.dynamic_list->next, nullptr);
  file_close(id);
  EXPECT_TRUE(closed_everywhere("b"));
}

TEST_F(FileTableTest, NoNodeFromTheObjectHeap) {
  object_heap_destroy();
  EXPECT_EQ(file_open_for_update(kNewDynamicFile, "f"), 0);
  EXPECT_EQ(file_table.current_handle, nullptr);
  EXPECT_TRUE(closed_everywhere("f"));
  EXPECT_NE(file_open_for_update(0, "f"), 0);  // numbers do not need the object heap
}

TEST_F(FileTableTest, SlotsThatCannotGrow) {
  // A main heap too small for the 36 slots that number 25 needs, whatever a slot's width:
  // the table stays as it was.
  constexpr size_t kSlotsNeeded = 25 + kFileTableGrowth + 1;
  main_heap_destroy();
  runtime_memory.main_heap = platform_heap_create(
      kMainHeapInitialSize, static_cast<uint32_t>(kSlotsNeeded * sizeof(PlatformFile) - 1));
  ASSERT_TRUE(file_table_init());
  EXPECT_EQ(file_open_for_update(25, "f"), 0);
  EXPECT_EQ(file_table.current_handle, nullptr);
  EXPECT_EQ(file_table.capacity, kFileTableInitialCapacity);
  EXPECT_TRUE(closed_everywhere("f"));
  EXPECT_NE(file_open_for_update(9, "f"), 0);
}

}  // namespace
