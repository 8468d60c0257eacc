// Threads and semaphores on Windows: the system's own threads and semaphores, straight
// from kernel32, so that programs started at their own entry, without the C runtime's
// start-up, have them too. A semaphore handle is the system's handle itself.
#include <windows.h>

#include "platform/thread.h"

struct PlatformThreadRecord {
  HANDLE thread;
  void (*main)(void*);
  void* argument;
};

namespace {

HANDLE handle_of(PlatformSemaphore semaphore) {
  return reinterpret_cast<HANDLE>(semaphore);
}

/// Where a started thread begins. The system may hand over a stack aligned to 4 bytes only
/// (32-bit Windows), so it is aligned here for the code that runs on it.
__attribute__((force_align_arg_pointer)) DWORD WINAPI run_thread(void* record) {
  auto* thread = static_cast<PlatformThreadRecord*>(record);
  thread->main(thread->argument);
  return 0;
}

}  // namespace

PlatformThread platform_thread_start(void (*main)(void* argument), void* argument) {
  auto* record = static_cast<PlatformThreadRecord*>(
      HeapAlloc(GetProcessHeap(), 0, sizeof(PlatformThreadRecord)));
  if (!record) return nullptr;
  record->main = main;
  record->argument = argument;
  // The size is reserved only; pages are committed as the stack grows.
  record->thread = CreateThread(nullptr, kPlatformThreadStackBytes, run_thread, record,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!record->thread) {
    HeapFree(GetProcessHeap(), 0, record);
    return nullptr;
  }
  return record;
}

void platform_thread_join(PlatformThread thread) {
  if (!thread) return;
  WaitForSingleObject(thread->thread, INFINITE);
  CloseHandle(thread->thread);
  HeapFree(GetProcessHeap(), 0, thread);
}

PlatformSemaphore platform_semaphore_make(uint32_t initial) {
  if (initial > kPlatformSemaphoreMaximum) return nullptr;
  HANDLE semaphore = CreateSemaphoreW(nullptr, static_cast<LONG>(initial),
                                      static_cast<LONG>(kPlatformSemaphoreMaximum), nullptr);
  return reinterpret_cast<PlatformSemaphore>(semaphore);  // null on failure
}

void platform_semaphore_wait(PlatformSemaphore semaphore) {
  WaitForSingleObject(handle_of(semaphore), INFINITE);
}

void platform_semaphore_post(PlatformSemaphore semaphore) {
  ReleaseSemaphore(handle_of(semaphore), 1, nullptr);
}

void platform_semaphore_free(PlatformSemaphore semaphore) {
  if (semaphore) CloseHandle(handle_of(semaphore));
}
