// Process entry point.
#include "app/carried_archive.h"
#include "app/extraction.h"
#include "platform/process.h"

void extraction_main(void* /*module_instance*/) {
  platform_exit_process(
      extraction_run(carried_archive, carried_archive_size, carried_archive_digest, nullptr));
}

int main() {
  platform_process_start();
  platform_command_line();  // fetched as the platform hands it over, not read
  extraction_main(platform_module_handle());
}
