// Process entry point.
#include "app/carried_archive.h"
#include "app/extraction.h"
#include "platform/heap.h"
#include "platform/process.h"

namespace {

/// The heap of the argument list, kept until the process ends.
PlatformHeap argument_heap;

/// Puts the program's arguments in `*arguments` (`*count` of them, in a block of a heap of
/// their own that lives as long as the process). False when there is no room for them.
bool take_arguments(const char* const** arguments, int* count) {
  *arguments = nullptr;
  *count = platform_argument_count();
  if (*count <= 0) return true;
  argument_heap = platform_heap_create(0, 0);
  auto* list = static_cast<const char**>(
      argument_heap
          ? platform_heap_alloc(argument_heap, sizeof(const char*) * size_t(*count), false)
          : nullptr);
  if (!list) return false;
  for (int i = 0; i < *count; ++i) list[i] = platform_argument(i);
  *arguments = list;
  return true;
}

}  // namespace

void extraction_main(void* /*module_instance*/) {
  int count = 0;
  const char* const* arguments = nullptr;
  // Arguments that cannot be read are never taken for none: that would start a run.
  if (!take_arguments(&arguments, &count)) platform_exit_process(kExitFailure);
  platform_exit_process(extraction_run_with_arguments(
      carried_archive, carried_archive_size, carried_archive_digest, nullptr, count, arguments));
}

namespace {

[[noreturn]] void start_program() {
  platform_process_start();
  platform_command_line();  // fetched as the platform hands it over, not read
  extraction_main(platform_module_handle());
}

}  // namespace

#if defined(ENTPACKER_OWN_ENTRY)
/// Where the Windows programs start, built for size (see entpacker_small_program): the C
/// runtime's own start-up, which sets up arguments, an environment, thread-local storage,
/// exception frames and the lists of constructors and exit functions that these programs do
/// not use, costs the 32-bit program about 9 KB of its 48 KiB. The system's libraries
/// initialise themselves as they are loaded, the arguments come from the wide command line,
/// and nothing here has a static constructor.
extern "C" __attribute__((force_align_arg_pointer)) void __stdcall entpacker_entry() {
  start_program();
}

/// Without that start-up there is no list of exit functions to add to: every way out of
/// these programs goes through platform_exit_process, which runs the cleanups itself.
extern "C" int atexit(void (*)()) {
  return 0;
}
#else
int main() {
  start_program();
}
#endif
