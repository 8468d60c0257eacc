// Small console programs, run both in a real terminal and on a memory console, so that
// the two screens can be compared.
#pragma once

/// Runs the scenario called `name` on the open console; false for an unknown name.
/// "wrap": long texts that wrap and scroll. "screen": colours, a cleared screen and
/// located texts. "keys": reads three keys with the poll and prints what they were.
bool run_console_scenario(const char* name);
