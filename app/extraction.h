// The program's own script: start-up of the runtime, the dialogue and shutdown.
#pragma once

/// Runs the program from start-up to the end of the process; never returns.
[[noreturn]] void extraction_main(void* module_instance);

/// Waits until a key goes down (a key typed ahead counts) or the input has ended.
void wait_for_any_key();
