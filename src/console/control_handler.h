// Console control events (Ctrl+C, Ctrl+Break, closing the console, logoff, shutdown) and the
// run-wide flags through which they stop the run.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

// The flags are single aligned 32-bit values, polled without locks by every thread; they are only
// ever loaded and stored, never changed by locked operations. Zero at start, never reset.

// Hard stop: every control event except Ctrl+C. Once set, later events change nothing.
extern std::atomic<int32_t> InterruptFlag;
// Stop request: every control event, and the limits of the folder walk. The handler adds 1 while
// it holds the main thread suspended and sets it to 1 when done, so a value above 1 during an
// event means an earlier event was already handled.
extern std::atomic<int32_t> AbortFlag;
// Ends a waiting prompt with its default answer.
extern std::atomic<int32_t> PromptCancelFlag;
// 1 while a prompt waits for a key.
extern std::atomic<int32_t> PromptActiveFlag;
// The type of the last event handled; progress is shown only while it is 0.
extern std::atomic<int32_t> LastControlEvent;

// The id of the main thread, the only one that walks, compares and prints verdicts. Recorded
// first thing at start, before the handler is registered.
extern uint32_t MainThreadId;

// The run should wind down: a hard stop or a stop request.
bool StopRequested();
// A waiting prompt should end with its default answer: a hard stop, or the prompt was cancelled.
bool PromptShouldEnd();

// The flags as a new process starts them, for running the program more than once in one process.
void ResetStopFlags();

// The difference listing gathers its lines in a buffer before it writes them. While it holds
// some (`buffered`), the handler's stop message waits, so that it cannot land before lines found
// earlier; the listing calls this with false after each write, which prints a message that waited.
void NoteListingBuffered(bool buffered);

// Called for every control event by StopEventHandler, which OpenConsoleSession registers and which
// then keeps the deadline after a stop. Always TRUE: the run winds down by itself instead of being
// ended by the system's default handler.
BOOL WINAPI ConsoleControlHandler(DWORD event);
