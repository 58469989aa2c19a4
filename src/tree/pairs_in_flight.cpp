#include "tree/pairs_in_flight.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/waits.h"
#include "base/workers.h"
#include "compare/device_size.h"
#include "compare/file_identity.h"
#include "compare/read_until.h"
#include "compare/reader_threads.h"
#include "console/control_handler.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"
#include "storage/drive_identity.h"

namespace {

constexpr uint32_t kMostWorkers = WorkerGroup::kMost;
// A network share answers every request after a round trip: pairs in flight hide that latency
// whatever the processor count, as many as copy tools keep in flight against shares.
constexpr uint32_t kRemoteWorkers = 12;
constexpr uint32_t kLocalWorkers = 8;
constexpr uint32_t kJobsPerWorker = 2;
// Workers and waiters look at the job states at least this often: a lost wake-up or a failed
// wait costs a moment, never a hang.
constexpr DWORD kPollMs = 50;

enum class JobState { kFree, kQueued, kRunning, kDone };

}  // namespace

struct PairJob {
    JobState state;  // under the pool's lock
    bool declined;   // kDone without a usable result
    PairJob* next;   // in the queue
    bool awaited;    // the walk waits for it: only then is the pool's `done` woken
    bool abandoned;  // the walk stopped waiting: the worker frees the job when it is done
    // Copied from the run when queued: a worker never reads the run state, which the walk writes.
    uint32_t openFlags;
    uint32_t sectorSize;
    uint32_t readLimit;
    bool wantInfos;
    bool keepWhenSizesDiffer;  // -i: a pair of other sizes is still read, by the walk
    bool checkOnly;            // -c: one file, its own side 2
    wchar_t* paths[2];
    PairSides result;
};

// Hand-offs with an in-process lock and condition variables: under Wine an event costs a round
// trip to its server, which every open and close of a pair needs too. The states under the lock
// decide; a wake-up only says that they may have changed.
struct PairPool {
    SRWLOCK lock;
    CONDITION_VARIABLE work;  // jobs are queued
    CONDITION_VARIABLE done;  // an awaited job is done
    WorkerGroup workers;
    PairJob* jobs;
    uint32_t jobCount;
    PairJob* head;
    PairJob* tail;
    uint32_t idle;  // workers waiting on `work`: only then is it woken
    bool quit;
};

namespace {

void CloseJobHandles(PairJob* job) {
    for (HANDLE& handle : job->result.handles) {
        if (handle != INVALID_HANDLE_VALUE) win.CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
}

// Reads a side whole, as the comparison's reader does: a short read before the end is no end.
bool ReadWhole(HANDLE handle, uint8_t* buffer, uint32_t length, uint32_t readLength, uint32_t sectorSize,
               uint32_t* delivered) {
    const ReadUntilResult read = ReadUntil(handle, buffer, readLength, length, kWhereItStands, sectorSize);
    *delivered = read.bytes;
    return read.error == ERROR_SUCCESS;
}

// Opens, sizes and perhaps reads the pair. Anything that fails leaves the job declined, with
// nothing open: the walk does the pair again from the start, with its recovery and its messages.
void RunJob(PairJob* job) {
    PairSides& r = job->result;
    uint8_t* data[2] = {r.data[0], r.data[1]};
    r = PairSides{};
    r.handles[0] = r.handles[1] = INVALID_HANDLE_VALUE;
    r.data[0] = data[0];
    r.data[1] = data[1];
    job->declined = true;
    if (StopRequested()) return;
    r.openFlags = job->openFlags;
    // A file checked against its sum is its own side 2.
    const int sides = job->checkOnly ? 1 : 2;
    for (int side = 0; side < sides; ++side) {
        r.handles[side] = win.CreateFileW(job->paths[side], GENERIC_READ, kSideShareMode, nullptr, OPEN_EXISTING,
                                          job->openFlags, nullptr);
        // A size that cannot be told is the walk's to report.
        if (r.handles[side] == INVALID_HANDLE_VALUE ||
            (r.sizes[side] = SizeOfFileOrDevice(r.handles[side], false)) == kSizeUnknown) {
            CloseJobHandles(job);
            return;
        }
    }
    if (job->checkOnly) r.sizes[1] = r.sizes[0];
    if (job->wantInfos && !job->checkOnly) {
        r.keyOk = ReadPairKey(r.handles[0], r.handles[1], true, &r.key);
        r.oneFile = r.keyOk && ProvenOneFile(r.handles[0], r.handles[1], r.key);
    }
    bool sameSize = r.sizes[0] == r.sizes[1];
    if (sameSize && r.sizes[0] <= job->readLimit) {
        uint32_t length = static_cast<uint32_t>(r.sizes[0]);
        uint32_t readLength = RoundUp(length, job->sectorSize);
        for (int side = 0; side < sides && length != 0; ++side) {
            const uint32_t sector = job->openFlags & FILE_FLAG_NO_BUFFERING ? job->sectorSize : 0;
            if (!ReadWhole(r.handles[side], r.data[side], length, readLength, sector, &r.delivered[side])) {
                CloseJobHandles(job);
                return;
            }
        }
        r.read = true;
        CloseJobHandles(job);
    } else if (!sameSize && !job->keepWhenSizesDiffer) {
        CloseJobHandles(job);  // the pair ends at its sizes
    }
    job->declined = false;
}

// Takes the first queued job, or null; under the lock.
PairJob* TakeQueued(PairPool* pool) {
    PairJob* job = pool->head;
    if (!job) return nullptr;
    pool->head = job->next;
    if (!pool->head) pool->tail = nullptr;
    job->next = nullptr;
    return job;
}

DWORD WINAPI WorkerMain(LPVOID parameter) {
    auto* pool = static_cast<PairPool*>(parameter);
    win.AcquireSRWLockExclusive(&pool->lock);
    while (!pool->quit) {
        PairJob* job = TakeQueued(pool);
        if (!job) {
            ++pool->idle;
            SleepOnCondition(&pool->work, &pool->lock, kPollMs);
            --pool->idle;
            continue;
        }
        job->state = JobState::kRunning;
        win.ReleaseSRWLockExclusive(&pool->lock);
        RunJob(job);
        win.AcquireSRWLockExclusive(&pool->lock);
        if (job->abandoned) {
            // Nobody takes this result: what it holds is closed here, and the job is free.
            CloseJobHandles(job);
            job->abandoned = false;
            job->state = JobState::kFree;
            continue;
        }
        job->state = JobState::kDone;
        if (job->awaited) win.WakeAllConditionVariable(&pool->done);
    }
    win.ReleaseSRWLockExclusive(&pool->lock);
    return 0;
}

void FreeJobs(PairPool* pool) {
    for (uint32_t i = 0; i < pool->jobCount; ++i) {
        PairJob* job = &pool->jobs[i];
        CloseJobHandles(job);
        for (int side = 0; side < 2; ++side) {
            FreeBlock(job->paths[side]);
            ReleaseBuffer(job->result.data[side]);
        }
    }
    FreeBlock(pool->jobs);
}

bool MakeJobs(PairPool* pool, uint32_t count) {
    pool->jobs = static_cast<PairJob*>(AllocZeroed(uint64_t{count} * sizeof(PairJob)));
    pool->jobCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        pool->jobs[i].result.handles[0] = pool->jobs[i].result.handles[1] = INVALID_HANDLE_VALUE;
    }
    for (uint32_t i = 0; i < count; ++i) {
        PairJob* job = &pool->jobs[i];
        for (int side = 0; side < 2; ++side) {
            job->paths[side] = static_cast<wchar_t*>(AllocZeroed(kPathChars * sizeof(wchar_t)));
            job->result.data[side] = static_cast<uint8_t*>(ReserveBuffer(kPrefetchBytes + 1));
            if (!job->result.data[side]) return false;
        }
    }
    return true;
}

}  // namespace

uint32_t PairWorkersFor(const RunState& run) {
    // A range that does not start at the first byte, or ends before the last, is the walk's.
    if (run.setup.StartOffset != 0 || Options.firstBytes != 0) return 0;
    if (IsNetworkRoot(run.paths.volumeRoot1) || IsNetworkRoot(run.paths.volumeRoot2)) return kRemoteWorkers;
    // A drive that seeks (a rotating disk, a CD-ROM, a floppy) would move its head between the
    // pairs in flight and the walk's reads of a big pair, also when only one tree lies on it.
    for (const wchar_t* root : {run.paths.volumeRoot1, run.paths.volumeRoot2}) {
        DriveIdentity drive = ResolveDriveIdentity(root);
        if (drive >= 0 && (ClassOfDrive(drive) != DiskDriveClass || DiskHasSeekPenalty(drive))) return 0;
        if (!run.setup.ParallelReads) break;  // both trees on one drive: asked once
    }
    SYSTEM_INFO system = {};
    win.GetSystemInfo(&system);
    uint32_t processors = system.dwNumberOfProcessors;
    if (processors == 0) processors = 1;
    return processors < kLocalWorkers ? processors : kLocalWorkers;
}

PairPool* StartPairPool(uint32_t workers) {
    if (workers == 0) return nullptr;
    if (workers > kMostWorkers) workers = kMostWorkers;
    // Zeroed, the lock and the condition variables are initialised.
    auto* pool = static_cast<PairPool*>(AllocZeroed(sizeof(PairPool)));
    void* parameters[kMostWorkers];
    for (void*& parameter : parameters) parameter = pool;
    if (MakeJobs(pool, workers * kJobsPerWorker)) StartWorkers(&pool->workers, WorkerMain, parameters, workers);
    if (pool->workers.count == 0) {
        StopPairPool(pool);
        return nullptr;
    }
    return pool;
}

void StopPairPool(PairPool* pool) {
    if (!pool) return;
    win.AcquireSRWLockExclusive(&pool->lock);
    pool->quit = true;
    win.WakeAllConditionVariable(&pool->work);
    win.ReleaseSRWLockExclusive(&pool->lock);
    // A worker that did not end may still write into its job: its memory stays.
    if (!JoinWorkers(&pool->workers, StopRequested)) return;
    if (pool->jobs) FreeJobs(pool);
    FreeBlock(pool);
}

PairJob* QueuePair(PairPool* pool, const RunState& run, const PairPaths& paths) {
    if (!pool || StopRequested()) return nullptr;
    size_t nameLength = wcslen(paths.name);
    if (paths.length1 + nameLength >= kPathChars || paths.length2 + nameLength >= kPathChars) return nullptr;
    PairJob* job = nullptr;
    win.AcquireSRWLockExclusive(&pool->lock);
    for (uint32_t i = 0; i < pool->jobCount && !job; ++i) {
        if (pool->jobs[i].state == JobState::kFree) job = &pool->jobs[i];
    }
    if (job) {
        memcpy(job->paths[0], paths.folder1, paths.length1 * sizeof(wchar_t));
        memcpy(job->paths[0] + paths.length1, paths.name, (nameLength + 1) * sizeof(wchar_t));
        memcpy(job->paths[1], paths.folder2, paths.length2 * sizeof(wchar_t));
        memcpy(job->paths[1] + paths.length2, paths.name, (nameLength + 1) * sizeof(wchar_t));
        job->openFlags = run.OpenFlags;
        job->sectorSize = LargerSectorSize(run);
        job->readLimit = run.setup.BlockSize < kPrefetchBytes ? run.setup.BlockSize : kPrefetchBytes;
        job->wantInfos = PairKeyWanted(run);
        job->keepWhenSizesDiffer = Options.ignoreSizes;
        job->checkOnly = run.setup.CheckOnly;
        job->state = JobState::kQueued;
        if (pool->tail) {
            pool->tail->next = job;
        } else {
            pool->head = job;
        }
        pool->tail = job;
        job->awaited = false;
    }
    if (job && pool->idle != 0) win.WakeConditionVariable(&pool->work);
    win.ReleaseSRWLockExclusive(&pool->lock);
    return job;
}

PairSides* AwaitPair(PairPool* pool, PairJob* job) {
    win.AcquireSRWLockExclusive(&pool->lock);
    for (;;) {
        JobState state = job->state;
        if (state == JobState::kQueued) {
            // No worker has started it: the walk does it now rather than wait.
            PairJob** link = &pool->head;
            PairJob* previous = nullptr;
            while (*link != job) {
                previous = *link;
                link = &(*link)->next;
            }
            *link = job->next;
            if (pool->tail == job) pool->tail = previous;
            job->next = nullptr;
            job->declined = true;
            job->state = state = JobState::kDone;
        }
        if (state == JobState::kDone) {
            win.ReleaseSRWLockExclusive(&pool->lock);
            return job->declined ? nullptr : &job->result;
        }
        // A stop ends the wait for a worker that may be stuck in a slow open or read: the job is
        // left to it, and the walk takes nothing from it.
        if (StopRequested()) {
            job->abandoned = true;
            win.ReleaseSRWLockExclusive(&pool->lock);
            return nullptr;
        }
        job->awaited = true;
        SleepOnCondition(&pool->done, &pool->lock, kPollMs);
    }
}

void ReleasePair(PairPool* pool, PairJob* job) {
    win.AcquireSRWLockExclusive(&pool->lock);
    // An abandoned job is the worker's until it is done, and the worker frees it.
    bool own = !job->abandoned && job->state == JobState::kDone;
    win.ReleaseSRWLockExclusive(&pool->lock);
    if (!own) return;
    CloseJobHandles(job);
    win.AcquireSRWLockExclusive(&pool->lock);
    job->state = JobState::kFree;
    win.ReleaseSRWLockExclusive(&pool->lock);
}
