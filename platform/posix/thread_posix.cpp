// Threads and semaphores on POSIX: pthreads, and each semaphore a count under a mutex with
// a condition variable, which every POSIX system has (unnamed sem_t is not everywhere).
#include <pthread.h>
#include <signal.h>

#include <cstdlib>

#include "platform/thread.h"

struct PlatformThreadRecord {
  pthread_t thread;
  void (*main)(void*);
  void* argument;
};

struct PlatformSemaphoreRecord {
  pthread_mutex_t mutex;
  pthread_cond_t available;  // signalled when the count goes up
  uint32_t count;
};

namespace {

/// Signals raised by a thread's own fault, which it must still take: blocked, they would
/// end the process without its handlers.
const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

void* run_thread(void* record) {
  auto* thread = static_cast<PlatformThreadRecord*>(record);
  thread->main(thread->argument);
  return nullptr;
}

}  // namespace

PlatformThread platform_thread_start(void (*main)(void* argument), void* argument) {
  auto* record = static_cast<PlatformThreadRecord*>(std::malloc(sizeof(PlatformThreadRecord)));
  if (!record) return nullptr;
  record->main = main;
  record->argument = argument;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    std::free(record);
    return nullptr;
  }
  // A size the system refuses leaves its default, which is larger.
  pthread_attr_setstacksize(&attributes, kPlatformThreadStackBytes);
  // The new thread inherits the signal mask in force here: every signal but its own faults
  // is held, so that interrupts reach the program's first thread, and a hold of interrupts
  // there is not undone by a thread that takes them meanwhile.
  sigset_t held, previous;
  sigfillset(&held);
  for (int s : kFaultSignals) sigdelset(&held, s);
  pthread_sigmask(SIG_SETMASK, &held, &previous);
  const int started = pthread_create(&record->thread, &attributes, run_thread, record);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attributes);
  if (started != 0) {
    std::free(record);
    return nullptr;
  }
  return record;
}

void platform_thread_join(PlatformThread thread) {
  if (!thread) return;
  pthread_join(thread->thread, nullptr);
  std::free(thread);
}

PlatformSemaphore platform_semaphore_make(uint32_t initial) {
  if (initial > kPlatformSemaphoreMaximum) return nullptr;
  auto* semaphore =
      static_cast<PlatformSemaphoreRecord*>(std::malloc(sizeof(PlatformSemaphoreRecord)));
  if (!semaphore) return nullptr;
  if (pthread_mutex_init(&semaphore->mutex, nullptr) != 0) {
    std::free(semaphore);
    return nullptr;
  }
  if (pthread_cond_init(&semaphore->available, nullptr) != 0) {
    pthread_mutex_destroy(&semaphore->mutex);
    std::free(semaphore);
    return nullptr;
  }
  semaphore->count = initial;
  return semaphore;
}

void platform_semaphore_wait(PlatformSemaphore semaphore) {
  pthread_mutex_lock(&semaphore->mutex);
  // A wait may end without a post (a spurious wake-up): the count decides.
  while (semaphore->count == 0) pthread_cond_wait(&semaphore->available, &semaphore->mutex);
  --semaphore->count;
  pthread_mutex_unlock(&semaphore->mutex);
}

void platform_semaphore_post(PlatformSemaphore semaphore) {
  pthread_mutex_lock(&semaphore->mutex);
  ++semaphore->count;
  pthread_cond_signal(&semaphore->available);
  pthread_mutex_unlock(&semaphore->mutex);
}

void platform_semaphore_free(PlatformSemaphore semaphore) {
  if (!semaphore) return;
  pthread_cond_destroy(&semaphore->available);
  pthread_mutex_destroy(&semaphore->mutex);
  std::free(semaphore);
}
