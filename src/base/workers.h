// Helper threads, run one way. What a thread shares with its owner lives on the heap; hand-offs go
// through an SRWLOCK and condition variables, which stay in the process (under Wine an event is a
// round trip to its server). The owner waits for a thread as long as the run goes on and about a
// second more once a stop came: a thread held in a call that never returns (a read or a listing on
// a share that is gone) is then abandoned together with its state, which nobody frees or reads
// again, so that it may finish writing into it whenever its call returns.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// Whether a stop came: the owner's own test, asked while it waits.
using StopTest = bool (*)();

// Threads that work over one shared state.
struct WorkerGroup {
    static constexpr uint32_t kMost = 16;
    HANDLE threads[kMost];
    uint32_t count;
};

// Starts up to `count` threads (at most kMost), the i-th given `parameters[i]`. Returns how many
// started: the owner decides whether that is enough.
uint32_t StartWorkers(WorkerGroup* group, LPTHREAD_START_ROUTINE main, void* const* parameters, uint32_t count);

// Waits for the group's threads, which the owner has told to end. True when all ended; false when
// one was still in a call after the stop: the shared state is abandoned then, never freed nor read.
bool JoinWorkers(WorkerGroup* group, StopTest stopping);

// One persistent thread that runs one call at a time for its owner: cheaper than a thread per call
// (about 1.5 ms each under Wine), and the owner can stop waiting for it.
struct CallWorker;

using WorkerCall = void (*)(void* request);

// Hands `call(request)` to the worker, made on first use. False when no thread can be had: the
// caller makes the call itself. The request and all it points to stay the worker's until
// AwaitCall says it is done.
bool PostCall(CallWorker** worker, WorkerCall call, void* request);

// Waits for the posted call. False when it had not returned a second after a stop: the worker is
// abandoned with the request, which must never be read or freed again, and `*worker` is null.
bool AwaitCall(CallWorker** worker, StopTest stopping);

// Ends the worker (idle or not) and frees it, or abandons it where a call holds it past a stop:
// false then, and what its call works on must be left alone.
bool StopCallWorker(CallWorker** worker, StopTest stopping);
