// Waiting for a thread the program owns.
#pragma once

#include "platform/windows.h"

// Waits for a thread of our own to end: as long as it takes while the run goes on (the thread
// ends when its call returns), about a second more once `stopping` says a stop came, as a thread
// held in a call that never returns (a read on a share that is gone) must not keep the process
// from ending. True when it ended; otherwise the caller must leave alone whatever the thread may
// still write.
bool WaitForThreadEnd(HANDLE thread, bool (*stopping)());
