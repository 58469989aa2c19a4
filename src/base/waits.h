// Waiting for a thread or a condition the program owns.
#pragma once

#include "platform/windows.h"

// Waits for a thread of our own to end: as long as it takes while the run goes on (the thread
// ends when its call returns), about a second more once `stopping` says a stop came, as a thread
// held in a call that never returns (a read on a share that is gone) must not keep the process
// from ending. True when it ended; otherwise the caller must leave alone whatever the thread may
// still write.
bool WaitForThreadEnd(HANDLE thread, bool (*stopping)());

// Sleeps on `condition`, with `lock` held exclusively on the way in and out, for at most `ms`:
// callers look at their state after every return. One that fails to sleep pauses a moment instead,
// so that a waiter never spins.
void SleepOnCondition(CONDITION_VARIABLE* condition, SRWLOCK* lock, DWORD ms);
