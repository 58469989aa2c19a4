// Running the whole program more than once in one test process: everything a run leaves behind
// is put back to how a new process starts.
#pragma once

// Releases what an early exit left (buffers, reader threads, lists) and zeroes the run state.
void ResetRunState();
