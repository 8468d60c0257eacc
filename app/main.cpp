// Process entry point.
#include "app/extraction.h"
#include "platform/process.h"

int main() {
  platform_command_line();
  extraction_main(platform_module_handle());
}
