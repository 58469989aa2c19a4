// A hard deadline for the run once a stop came. Every helper thread is given up about a second
// after a stop, but the main thread itself makes calls that a share that no longer answers can
// hold for minutes (opening a pair, its plain block reads): when the run's work has not ended
// about two seconds after the first stop, the process ends anyway, as a run that could not finish.
#pragma once

#include "platform/windows.h"

// The exit code of a run that the deadline ends: that of an incomplete run.
constexpr UINT kStopDeadlineExitCode = 11;

// Said by the main thread once the run's work is over, before its summary and before any closing
// prompt, neither of which the deadline may cut.
void NoteWorkEnded();

// On the thread of a control event, after the handler: at the first stop, waits until the work
// ends, or ends the process about two seconds after the stop with a line on standard error.
// Later events return at once.
void AwaitWorkAfterStop();

// What the console calls for every control event: the handler, then the deadline.
BOOL WINAPI StopEventHandler(DWORD event);

// As a new process starts, for running the program more than once in one process.
void ResetStopDeadline();
