#include "compare/read_ahead.h"

#include "base/memory.h"
#include "base/waits.h"
#include "base/workers.h"
#include "compare/device_size.h"
#include "compare/read_until.h"
#include "compare/reader_threads.h"
#include "console/control_handler.h"
#include "platform/win_api.h"

namespace {

// Per side: 8 places of a block each, 4 of them in flight while the comparison works on others,
// enough to keep a share's round trips out of the time; 16 MiB in all at 1 MiB blocks.
constexpr uint32_t kMostPlaces = 8;
constexpr uint32_t kMostReaders = kMostPlaces / 2;
// Every wait looks at the stop request this often: a read on a dying share can take minutes.
constexpr DWORD kPollMs = 50;

struct Reader {
    ReadAhead* ahead;
    int side;
    uint32_t index;  // reads the blocks whose number leaves this remainder
};

// Readers that cannot open their handles get a few chances in a pair, not one at every block.
constexpr uint32_t kMostFailedOpens = 3;

}  // namespace

// Under `lock`: the readers wait on `work` for blocks to read, the comparison on `ready` for
// blocks read. A place holds block b of a side when `holds` is b + 1; block b may go into place
// b % places once block b - places has been compared.
struct ReadAhead {
    SRWLOCK lock;
    CONDITION_VARIABLE work;
    CONDITION_VARIABLE ready;
    uint32_t places;
    uint32_t readersPerSide;
    uint8_t* data[2][kMostPlaces];
    Reader readers[2][kMostReaders];
    WorkerGroup threads;

    uint64_t generation;  // one for each StartReadAhead: the readers open their handles anew
    bool active;
    bool quit;
    uint32_t busy;      // readers inside the current generation
    bool openFailed;    // a reader of this generation could not open its handle
    uint64_t first;     // the generation's first block
    uint64_t released;  // blocks below this have been compared
    uint64_t holds[2][kMostPlaces];
    uint32_t bytes[2][kMostPlaces];
    bool whole[2][kMostPlaces];

    // The pair, as StartReadAhead found it.
    const wchar_t* path[2];
    uint32_t openFlags[2];
    uint64_t start;
    uint64_t compareLength;
    uint64_t blockCount;
    uint32_t blockSize;
    uint32_t sectorSize;
    bool mirror;  // a check against sums: side 2 is side 1, and its readers read nothing
};

namespace {

// Reads the reader's blocks of one generation, from its first until a block does not arrive
// whole, the pair's end, or the generation's end. Called with the lock held; returns with it.
void ReadGeneration(Reader* reader, uint64_t generation) {
    ReadAhead* a = reader->ahead;
    const int side = reader->side;
    if (a->mirror && side == 1) return;
    const uint32_t k = a->readersPerSide;
    uint64_t b = a->first + (reader->index + k - a->first % k) % k;
    win.ReleaseSRWLockExclusive(&a->lock);
    HANDLE handle = win.CreateFileW(a->path[side], GENERIC_READ, kSideShareMode, nullptr, OPEN_EXISTING,
                                    a->openFlags[side], nullptr);
    win.AcquireSRWLockExclusive(&a->lock);
    for (; b < a->blockCount; b += k) {
        while (!a->quit && a->active && a->generation == generation && b >= a->released + a->places) {
            SleepOnCondition(&a->work, &a->lock, kPollMs);
        }
        if (a->quit || !a->active || a->generation != generation) break;
        const uint32_t place = static_cast<uint32_t>(b % a->places);
        const uint64_t position = a->start + b * a->blockSize;
        const bool last = b == a->blockCount - 1;
        const uint32_t due = last ? static_cast<uint32_t>(a->compareLength - position) : a->blockSize;
        const uint32_t length = last ? RoundUp(due, a->sectorSize) : a->blockSize;
        uint32_t got = 0;
        if (handle != INVALID_HANDLE_VALUE) {
            win.ReleaseSRWLockExclusive(&a->lock);
            const bool unbuffered = (a->openFlags[side] & FILE_FLAG_NO_BUFFERING) != 0;
            got = ReadUntil(handle, a->data[side][place], length, due, position, unbuffered ? a->sectorSize : 0).bytes;
            win.AcquireSRWLockExclusive(&a->lock);
        } else {
            a->openFailed = true;
        }
        a->holds[side][place] = b + 1;
        a->bytes[side][place] = got;
        a->whole[side][place] = got >= due;
        win.WakeAllConditionVariable(&a->ready);
        // What follows comes back when the comparison has read this block its own way.
        if (got < due) break;
    }
    if (handle != INVALID_HANDLE_VALUE) {
        win.ReleaseSRWLockExclusive(&a->lock);
        win.CloseHandle(handle);
        win.AcquireSRWLockExclusive(&a->lock);
    }
}

DWORD WINAPI ReaderMain(LPVOID parameter) {
    auto* reader = static_cast<Reader*>(parameter);
    ReadAhead* a = reader->ahead;
    uint64_t done = 0;  // the last generation this reader has read
    win.AcquireSRWLockExclusive(&a->lock);
    for (;;) {
        while (!a->quit && !(a->active && a->generation != done)) SleepOnCondition(&a->work, &a->lock, kPollMs);
        if (a->quit) break;
        done = a->generation;
        ++a->busy;
        ReadGeneration(reader, done);
        --a->busy;
        win.WakeAllConditionVariable(&a->ready);
    }
    win.ReleaseSRWLockExclusive(&a->lock);
    return 0;
}

// Ends every reader; frees the read-ahead when all ended.
void EndReaders(ReadAhead* a) {
    win.AcquireSRWLockExclusive(&a->lock);
    a->quit = true;
    win.WakeAllConditionVariable(&a->work);
    win.ReleaseSRWLockExclusive(&a->lock);
    if (!JoinWorkers(&a->threads, StopRequested)) return;
    for (auto& side : a->data) {
        for (uint8_t* data : side) ReleaseBuffer(data);
    }
    FreeBlock(a);
}

ReadAhead* MakeReadAhead(uint32_t blockSize) {
    auto* a = static_cast<ReadAhead*>(AllocZeroed(sizeof(ReadAhead)));
    a->places = kMostPlaces;
    a->readersPerSide = kMostReaders;
    bool complete = true;
    for (auto& side : a->data) {
        for (uint32_t p = 0; p < a->places && complete; ++p) {
            // A spare byte behind the block, as the compare buffers have.
            side[p] = static_cast<uint8_t*>(ReserveBuffer(static_cast<uint64_t>(blockSize) + 1));
            complete = side[p] != nullptr;
        }
    }
    void* parameters[2 * kMostReaders];
    const uint32_t count = 2 * a->readersPerSide;
    for (uint32_t i = 0; i < count; ++i) {
        Reader* reader = &a->readers[i / a->readersPerSide][i % a->readersPerSide];
        *reader = {a, static_cast<int>(i / a->readersPerSide), i % a->readersPerSide};
        parameters[i] = reader;
    }
    if (complete && StartWorkers(&a->threads, ReaderMain, parameters, count) == count) return a;
    EndReaders(a);
    return nullptr;
}

// The readers finish the reads they are in and close their handles. False when a stop came
// before they did: they may still be reading, and the read-ahead must not be started again.
// `opened` tells whether every reader could open its handle.
bool StopReadAhead(ReadAhead* a, bool* opened) {
    win.AcquireSRWLockExclusive(&a->lock);
    a->active = false;
    win.WakeAllConditionVariable(&a->work);
    while (a->busy != 0 && !StopRequested()) SleepOnCondition(&a->ready, &a->lock, kPollMs);
    const bool idle = a->busy == 0;
    *opened = !a->openFailed;
    win.ReleaseSRWLockExclusive(&a->lock);
    return idle;
}

// Starts reading the current pair's blocks from `first` on. The pair's paths, open flags and
// range stay as they are until StopReadAhead.
void StartReadAhead(ReadAhead* a, const RunState& run, uint64_t first) {
    win.AcquireSRWLockExclusive(&a->lock);
    for (int side = 0; side < 2; ++side) {
        a->path[side] = run.pair.side[side].path;
        a->openFlags[side] = run.pair.side[side].openFlags;
        for (uint64_t& holds : a->holds[side]) holds = 0;
    }
    a->start = run.setup.ReadStart;
    a->compareLength = run.pair.CompareLength;
    a->blockCount = run.pair.BlockCount;
    a->blockSize = run.setup.BlockSize;
    a->sectorSize = LargerSectorSize(run);
    a->mirror = run.setup.CheckOnly;
    a->first = a->released = first;
    a->openFailed = false;
    ++a->generation;
    a->active = true;
    win.WakeAllConditionVariable(&a->work);
    win.ReleaseSRWLockExclusive(&a->lock);
}

// Waits for block `block` of both sides. True when both arrived whole: the view then shows them,
// until the block is released. False when a side did not (a read failed or came short, or its
// handle could not be opened) or a stop came.
bool TakeAheadBlock(ReadAhead* a, uint64_t block, BlockView* view) {
    static const UnreadRanges kNone = {};
    const uint32_t place = static_cast<uint32_t>(block % a->places);
    bool whole = false;
    win.AcquireSRWLockExclusive(&a->lock);
    for (;;) {
        const int second = a->mirror ? 0 : 1;
        const bool in[2] = {a->holds[0][place] == block + 1, a->holds[second][place] == block + 1};
        // One side that failed is enough: the other is read again anyway.
        if ((in[0] && !a->whole[0][place]) || (in[1] && !a->whole[second][place])) break;
        if (in[0] && in[1]) {
            whole = true;
            break;
        }
        if (StopRequested()) break;
        SleepOnCondition(&a->ready, &a->lock, kPollMs);
    }
    win.ReleaseSRWLockExclusive(&a->lock);
    if (!whole) return false;
    for (int side = 0; side < 2; ++side) {
        view->data[side] = a->data[side][place];
        view->delivered[side] = a->bytes[side][place];
        view->unread[side] = &kNone;
    }
    if (a->mirror) MirrorFirstSide(view);
    return true;
}

// The block has been compared: its places may take later blocks.
void ReleaseAheadBlock(ReadAhead* a, uint64_t block) {
    win.AcquireSRWLockExclusive(&a->lock);
    a->released = block + 1;
    win.WakeAllConditionVariable(&a->work);
    win.ReleaseSRWLockExclusive(&a->lock);
}

// The readers may still write into their buffers after a stop: the read-ahead is not used again
// in this run.
void StopReading(BlockSource* source) {
    AheadState& state = source->ahead;
    bool opened = true;
    if (!StopReadAhead(state.ahead, &opened)) source->run->sources.aheadRefused = true;
    if (!opened) ++state.failedOpens;
    state.on = false;
}

}  // namespace

bool OpenAheadSource(BlockSource* source) {
    BlockSources* sources = &source->run->sources;
    if (!source->run->setup.NetworkSide || sources->aheadRefused) return false;
    if (!sources->ahead) sources->ahead = MakeReadAhead(source->run->setup.BlockSize);
    // One block at a time for the rest of the run.
    if (!sources->ahead) sources->aheadRefused = true;
    source->ahead = AheadState{sources->ahead, false, 0, true};
    return sources->ahead != nullptr;
}

Brought BringAheadBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view) {
    AheadState& state = source->ahead;
    if (state.restart) {
        StartReadAhead(state.ahead, *source->run, block);
        state.on = true;
        state.restart = false;
    }
    if (state.on) {
        if (TakeAheadBlock(state.ahead, block, view)) return Brought::kBlock;
        StopReading(source);
    }
    // Read here the usual way, with its recovery, by handles placed at its start; the read-ahead
    // starts again after it.
    const Brought brought = BringOnItsOwn(source, plan, view);
    state.restart = !source->run->sources.aheadRefused && state.failedOpens <= kMostFailedOpens;
    return brought;
}

void AheadBlockCompared(BlockSource* source, uint64_t block) {
    if (source->ahead.on) ReleaseAheadBlock(source->ahead.ahead, block);
}

void CloseAheadSource(BlockSource* source) {
    if (source->ahead.on) StopReading(source);
}

void ReleaseReadAhead(BlockSources* sources) {
    if (sources->ahead) EndReaders(sources->ahead);
    sources->ahead = nullptr;
}
