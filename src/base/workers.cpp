#include "base/workers.h"

#include "base/memory.h"
#include "base/waits.h"
#include "platform/win_api.h"

uint32_t StartWorkers(WorkerGroup* group, LPTHREAD_START_ROUTINE main, void* const* parameters, uint32_t count) {
    group->count = 0;
    if (count > WorkerGroup::kMost) count = WorkerGroup::kMost;
    for (uint32_t i = 0; i < count; ++i) {
        HANDLE thread = win.CreateThread(nullptr, 0, main, parameters[i], 0, nullptr);
        if (!thread) break;
        group->threads[group->count++] = thread;
    }
    return group->count;
}

bool JoinWorkers(WorkerGroup* group, StopTest stopping) {
    bool allEnded = true;
    for (uint32_t i = 0; i < group->count; ++i) {
        // Once one did not end, the others are not waited for: the state stays anyway.
        allEnded = allEnded && WaitForThreadEnd(group->threads[i], stopping);
        win.CloseHandle(group->threads[i]);
    }
    group->count = 0;
    return allEnded;
}

// Counters under the lock decide; a wake-up only says they may have changed, and every wait has a
// time-out, so a lost wake-up costs a poll, never a hang.
struct CallWorker {
    SRWLOCK lock;
    CONDITION_VARIABLE posted;
    CONDITION_VARIABLE done;
    WorkerGroup thread;
    WorkerCall call;
    void* request;
    uint32_t postedCount;
    uint32_t doneCount;
    bool quit;
};

namespace {

constexpr DWORD kPollMs = 50;
// About a second of polls once a stop came.
constexpr int kPollsAfterStop = 20;

DWORD WINAPI CallWorkerMain(LPVOID parameter) {
    auto* w = static_cast<CallWorker*>(parameter);
    win.AcquireSRWLockExclusive(&w->lock);
    for (;;) {
        while (!w->quit && w->postedCount == w->doneCount) SleepOnCondition(&w->posted, &w->lock, kPollMs);
        if (w->quit) break;
        const WorkerCall call = w->call;
        void* request = w->request;
        win.ReleaseSRWLockExclusive(&w->lock);
        call(request);
        win.AcquireSRWLockExclusive(&w->lock);
        ++w->doneCount;
        win.WakeAllConditionVariable(&w->done);
    }
    win.ReleaseSRWLockExclusive(&w->lock);
    return 0;
}

// The worker is left to its thread, which ends when its call returns; its memory stays.
void Abandon(CallWorker** worker) {
    CallWorker* w = *worker;
    win.AcquireSRWLockExclusive(&w->lock);
    w->quit = true;
    win.ReleaseSRWLockExclusive(&w->lock);
    win.CloseHandle(w->thread.threads[0]);
    *worker = nullptr;
}

}  // namespace

bool PostCall(CallWorker** worker, WorkerCall call, void* request) {
    if (!*worker) {
        // Zeroed, the lock and the condition variables are initialised.
        auto* w = static_cast<CallWorker*>(AllocZeroed(sizeof(CallWorker)));
        void* parameter = w;
        if (StartWorkers(&w->thread, CallWorkerMain, &parameter, 1) == 0) {
            FreeBlock(w);
            return false;
        }
        *worker = w;
    }
    CallWorker* w = *worker;
    win.AcquireSRWLockExclusive(&w->lock);
    w->call = call;
    w->request = request;
    ++w->postedCount;
    win.WakeConditionVariable(&w->posted);
    win.ReleaseSRWLockExclusive(&w->lock);
    return true;
}

bool AwaitCall(CallWorker** worker, StopTest stopping) {
    CallWorker* w = *worker;
    int afterStop = 0;
    win.AcquireSRWLockExclusive(&w->lock);
    while (w->doneCount != w->postedCount && afterStop < kPollsAfterStop) {
        SleepOnCondition(&w->done, &w->lock, kPollMs);
        if (stopping()) ++afterStop;
    }
    const bool done = w->doneCount == w->postedCount;
    win.ReleaseSRWLockExclusive(&w->lock);
    if (!done) Abandon(worker);
    return done;
}

bool StopCallWorker(CallWorker** worker, StopTest stopping) {
    CallWorker* w = *worker;
    if (!w) return true;
    win.AcquireSRWLockExclusive(&w->lock);
    w->quit = true;
    win.WakeAllConditionVariable(&w->posted);
    win.ReleaseSRWLockExclusive(&w->lock);
    *worker = nullptr;
    if (!JoinWorkers(&w->thread, stopping)) return false;
    FreeBlock(w);
    return true;
}
