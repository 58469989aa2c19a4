#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "base/types.h"
#include "console/control_handler.h"  // MainThreadId

// The whole run: start-up, options, paths, the comparison, clean-up. `run` starts at its
// defaults (SetRunStateDefaults). Returns the exit code.
int RunMainSequence(RunState* run, int count, wchar_t** args);

// Puts back everything a run leaves behind, as a new process starts: the run state with what it
// holds, the options, the exclude masks, the console session, the stop flags and print caches.
// For running the whole program more than once in one process.
void ResetRunState(RunState* run);
