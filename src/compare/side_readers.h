// Reading both sides at once: a persistent thread per side, handed one block at a time.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/reader_threads.h"
#include "platform/windows.h"

// For reading both sides at once: the reader threads are made on first use, once per run, and
// handed one block at a time. `side` is 0 or 1.
// When no thread can be made, the read runs on the calling thread instead.
void StartSideRead(RunState* run, int side, uint32_t readLength);
SideRead WaitSideRead(int side);  // the result of ReadSide for that block
void StopReaderThreads();

// While both readers run, the lock that lets one side recover at a time; null when the sides are
// read one after the other on one thread.
CRITICAL_SECTION* RecoveryLock();
