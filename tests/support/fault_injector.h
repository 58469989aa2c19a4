// Every entry of the Windows seam wrapped, so that a test can record the sequence of calls a run
// makes and then fail exactly one of them, once, with an error that call can give. Also counts
// the handles and blocks the run opens and closes, to find leaks.
//
// Install it on top of whatever fakes a test has put into the seam: it wraps the entries as they
// are. Variadic entries (wsprintfA/W) and calls that cannot fail are passed through uncounted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fault {

void Install();

// The sequence of entry ids called since the last Arm or Record, in call order.
void Record();
const std::vector<int>& Calls();

// The call with this position in the sequence fails once.
void Arm(size_t callIndex);

// The entry that failed in the last armed run, -1 when the run made fewer calls. With threads
// running beside the main thread the order of calls can vary, so this may differ from the entry at
// the same position of the recorded run.
int FailedEntry();

const char* EntryName(int id);
// The error the entry fails with.
uint32_t EntryError(int id);
// True for the entries that release something (CloseHandle, HeapFree...).
bool IsRelease(int id);

// Opened minus closed since the last Record or Arm: handles (files, events, threads, searches)
// and heap or virtual memory blocks.
int64_t OpenHandles();
int64_t OpenBlocks();

}  // namespace fault
