#include "compare/side_readers.h"

#include "base/memory.h"
#include "base/workers.h"
#include "console/control_handler.h"
#include "platform/win_api.h"

// What a reader works on: a copy of its side and the request, and what the reading answers. On the
// heap, one per side for the run, so that no block allocates and an abandoned reader keeps it.
struct SideReadJob {
    PairSide side;
    int index;
    SideRequest request;
    SideNotes notes;
    SideRead result;
    bool posted;  // on the reader's thread; otherwise read on the caller's at the start
};

namespace {

CRITICAL_SECTION recoveryLock;
bool recoveryLockMade = false;

void ReadJob(void* parameter) {
    auto* job = static_cast<SideReadJob*>(parameter);
    job->result = ReadSide(&job->side, job->index, job->request, &job->notes);
}

}  // namespace

void StartSideRead(RunState* run, int index, const SideRequest& request) {
    if (!recoveryLockMade) {
        win.InitializeCriticalSection(&recoveryLock);
        recoveryLockMade = true;
    }
    SideReadJob*& job = run->helpers.readerJob[index];
    if (!job) job = static_cast<SideReadJob*>(AllocZeroed(sizeof(SideReadJob)));
    job->side = run->pair.side[index];
    job->index = index;
    job->request = request;
    job->notes = SideNotes{};
    job->posted = PostCall(&run->helpers.reader[index], ReadJob, job);
    if (!job->posted) ReadJob(job);
}

SideRead WaitSideRead(RunState* run, int index) {
    SideReadJob*& job = run->helpers.readerJob[index];
    // The reader sees a stop at every read and retry and ends its work; a read that does not
    // return (a share that is gone) is waited for a second after the stop, not longer.
    if (job->posted && !AwaitCall(&run->helpers.reader[index], StopRequested)) {
        job = nullptr;
        run->helpers.readerAbandoned = true;
        run->pair.side[index].handle = INVALID_HANDLE_VALUE;
        return SideRead::kGaveUp;
    }
    run->pair.side[index] = job->side;
    TakeSideNotes(run, job->notes);
    return job->result;
}

void StopReaderThreads(RunState* run) {
    for (int index = 0; index < 2; ++index) {
        if (StopCallWorker(&run->helpers.reader[index], StopRequested)) {
            FreeBlock(run->helpers.readerJob[index]);
        } else {
            run->helpers.readerAbandoned = true;
        }
        run->helpers.readerJob[index] = nullptr;
    }
    // An abandoned reader may still be inside its recovery, holding the lock.
    if (recoveryLockMade && !run->helpers.readerAbandoned) {
        win.DeleteCriticalSection(&recoveryLock);
        recoveryLockMade = false;
    }
}

CRITICAL_SECTION* RecoveryLock() { return recoveryLockMade ? &recoveryLock : nullptr; }
