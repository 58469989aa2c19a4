#pragma once

#include <cstdint>

#include "base/types.h"
#include "console/control_handler.h"  // MainThreadId

// The two path arguments, rewritten in place as the run sets them up.
extern PathBuffer path1;
extern PathBuffer path2;

// The whole run: start-up, options, paths, the comparison, clean-up. Returns the exit code.
int RunMainSequence(int count, wchar_t** args);
