// Reading both sides at once: a persistent thread per side, handed one block at a time.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/reader_threads.h"
#include "platform/windows.h"

// For reading both sides at once: side `index` (0 or 1) is read on its reader, made on first use
// and kept for the run. The reader works on a copy of the side, which WaitSideRead hands back.
// When no thread can be had, the read runs on the calling thread instead.
void StartSideRead(RunState* run, int index, const SideRequest& request);

// The result of ReadSide for that block. A reader that has not returned a second after a stop is
// abandoned with its copy of the side: the side's handle becomes its own, and the block is given up.
SideRead WaitSideRead(RunState* run, int index);

// Ends the readers; those abandoned are left to end when their calls return.
void StopReaderThreads(RunState* run);

// While both readers run, the lock that lets one side recover at a time; null when the sides are
// read one after the other on one thread.
CRITICAL_SECTION* RecoveryLock();
