// Splitting the command line and reading the options.
#pragma once

#include <cstdint>

#include "base/run_options.h"

// Argument 0 is the program path; at most 30 arguments follow it.
constexpr int kMaxArguments = 31;
constexpr int kArgumentSlots = kMaxArguments + 1;

bool IsCommandLineSpace(wchar_t c);

// Splits `commandLine` into at most 31 arguments. Quotes toggle a quoted stretch anywhere in an
// argument and are dropped; there is no escape character. `slots` has kArgumentSlots entries; the
// ones past the last argument are null. Returns the heap buffer that holds the texts (FreeBlock).
wchar_t* SplitCommandLine(const wchar_t* commandLine, int* count, wchar_t** slots);

// Decimal or "0x" hexadecimal, signed 64-bit; 0 when nothing parses.
int64_t ParseInt64(const wchar_t* text);

// A number with an optional decimal (K, M, G, T, P, E) or binary (Ki ... Ei) size suffix.
uint64_t ParseSizeNumber(const wchar_t* text);

void Clamp(int32_t* value, int32_t low, int32_t high);

enum class OptionLoopResult {
    Done,          // every argument read; the paths may still be missing
    ListVolumes,   // -lv: list and end
    ListDisks,     // -ld: list and end
    TooManyPaths,  // a third path: the message is printed, exit code 3
};

// Reads arguments 1 to count - 1 into `options` and the two paths (each kPathChars characters).
// Rewrites a leading '/' of short switches to '-' in the vector itself, as the paths then keep it.
OptionLoopResult RunOptionLoop(int count, wchar_t** args, RunOptions* options, wchar_t* path1, wchar_t* path2);

// The banner with the program's version and the usage text.
void PrintUsage();
