// Types shared by every layer of the program.
#pragma once

#include <cstdint>

// Paths are UTF-16 throughout; the long-path form reaches 32767 characters plus the terminator.
constexpr int kPathChars = 32768;
using PathBuffer = wchar_t[kPathChars];

// The outcome of one pair; the run counts each value.
enum CompareOutcome : int {
    Identical = 0,
    Different = 1,
    Missing = 2,
    Unreadable = 3,
    OtherProblem = 4,
};
