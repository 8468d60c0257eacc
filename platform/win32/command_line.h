// Between the Windows back ends: the command line split into arguments.
#pragma once

/// Splits the command line `line` into its arguments by the usual rules of Windows
/// programs and writes them, the program's name left out, one after another into `out`,
/// each zero-terminated; `out` needs room for as many units as `line` has, its zero
/// included. Returns the number of arguments.
///
/// The program's name runs to the next quote when it starts with one, else to the first
/// space or tab. Arguments are separated by spaces and tabs. A quote starts or ends a quoted
/// part, in which spaces and tabs are kept; two quotes inside a quoted part stand for one
/// quote. Backslashes stand for themselves unless a quote follows them: then each pair
/// makes one backslash, and an odd one left over makes the quote a plain character.
int command_line_split(const wchar_t* line, wchar_t* out);
