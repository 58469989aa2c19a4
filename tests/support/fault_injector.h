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

// The sequence of entry ids called since the last Arm or Record, in call order. The thread that
// calls Record or Arm is the run's main thread.
void Record();
const std::vector<int>& Calls();
// How many calls of the named entry came from other threads than the main thread.
size_t CallsBesideMainThread(const char* name);

// The call with this position in the sequence fails once, with `error` when that is one of the
// errors of the entry that makes the call, otherwise with the first of them: with threads, the
// entry at a position may be another than in the recorded run.
void Arm(size_t callIndex, uint32_t error);

// The entry that failed in the last armed run, -1 when the run made fewer calls, and the error it
// failed with. With threads running beside the main thread the order of calls can vary, so the
// entry may differ from the one at the same position of the recorded run.
int FailedEntry();
uint32_t FailedError();
// Whether the entry that failed was called again afterwards and succeeded.
bool FailedEntrySucceededLater();
// Whether the call that failed came from another thread than the main thread.
bool FailedBesideMainThread();
// Runs on the failing thread when the armed call fails, before the call returns, with the call's
// first argument: a wide path (`path` set) or a handle, null for any other kind.
void OnFailure(void (*hook)(const void* first, bool path));

const char* EntryName(int id);
// The errors the entry is failed with: for calls on files, folders and devices one of each class
// the program recovers from differently (a media error, a medium or share gone for the moment, a
// parameter the device refuses, anything else); one plausible error for every other call.
std::vector<uint32_t> ErrorsOf(int id);
// True for the entries that release something (CloseHandle, HeapFree...).
bool IsRelease(int id);
// Closes the handle whose closing was the call that failed, after the run has been measured, so
// that the files and folders it held can be removed.
void ReleaseLeftOver();

// Opened minus closed since the last Record or Arm: handles (files, events, threads, searches, hashes)
// and heap or virtual memory blocks.
int64_t OpenHandles();
int64_t OpenBlocks();

}  // namespace fault
