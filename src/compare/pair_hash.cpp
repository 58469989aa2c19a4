#include "compare/pair_hash.h"

#include "base/memory.h"
#include "base/workers.h"
#include "compare/sha256.h"
#include "console/control_handler.h"

// What the hashing thread works on: on the heap, one for the run, kept by a hasher abandoned after
// a stop.
struct HashJob {
    Sha256 sha;
    bool started;
    bool failed;
    bool posted;  // on the hashing thread; otherwise hashed here, at once
    const uint8_t* data;
    uint32_t length;
};

namespace {

void HashData(void* parameter) {
    auto* job = static_cast<HashJob*>(parameter);
    if (!job->failed && !Sha256Add(&job->sha, job->data, job->length)) job->failed = true;
}

}  // namespace

void StartPairHash(RunState* run) {
    run->pair.DigestReady = false;
    if (!HashesPairs(*run)) return;
    HashJob*& job = run->sums.job;
    if (!job) job = static_cast<HashJob*>(AllocZeroed(sizeof(HashJob)));
    Sha256Drop(&job->sha);
    job->started = Sha256Start(&job->sha);
    job->failed = !job->started;
    job->posted = false;
}

void HashBlock(RunState* run, const uint8_t* data, uint32_t length) {
    HashJob* job = run->sums.job;
    if (!job || job->failed) return;
    job->data = data;
    job->length = length;
    job->posted = PostCall(&run->sums.hasher, HashData, job);
    if (!job->posted) HashData(job);
}

void AwaitBlockHash(RunState* run) {
    HashJob* job = run->sums.job;
    if (!job || !job->posted) return;
    job->posted = false;
    if (!AwaitCall(&run->sums.hasher, StopRequested)) {
        // The thread keeps the job and may still read the block: nothing more is hashed in this
        // run, and the buffers stay.
        run->sums.job = nullptr;
        run->helpers.readerAbandoned = true;
    }
}

void FinishPairHash(RunState* run, bool whole) {
    AwaitBlockHash(run);
    HashJob* job = run->sums.job;
    if (!job) return;
    run->pair.DigestReady = whole && job->started && !job->failed && Sha256Finish(&job->sha, run->pair.Digest);
    Sha256Drop(&job->sha);
    job->started = false;
}

void StopPairHashing(RunState* run) {
    if (!StopCallWorker(&run->sums.hasher, StopRequested)) {
        run->helpers.readerAbandoned = true;
        return;
    }
    if (run->sums.job) Sha256Drop(&run->sums.job->sha);
    FreeBlock(run->sums.job);
    run->sums.job = nullptr;
}
