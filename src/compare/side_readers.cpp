#include "compare/side_readers.h"

#include <atomic>

#include "compare/reader_threads.h"
#include "platform/win_api.h"

namespace {

CRITICAL_SECTION recoveryLock;
bool recoveryLockMade = false;

// One persistent thread per side: creating two threads per block would cost more than reading
// a block from the cache. Counters decide, events only wake: a lost SetEvent or a failed wait
// costs a poll, never a hang.
struct SideReader {
    RunState* run;  // of the block being read
    HANDLE thread;
    HANDLE start;  // auto-reset: a block may be waiting
    HANDLE done;   // auto-reset: a block may be read
    uint32_t readLength;
    SideRead result;
    std::atomic<uint32_t> started;   // blocks handed over
    std::atomic<uint32_t> finished;  // blocks read; equal to `started` when the reader is idle
    std::atomic<bool> quit;
    bool inline_;  // no thread could be made: reads run on the caller's thread
};

constexpr DWORD kReaderPollMs = 50;
// How long the end of the run waits for a reader stuck in a read that does not return.
constexpr int kQuitPolls = 100;

SideReader readers[2];

DWORD WINAPI ReaderMain(LPVOID parameter) {
    auto* reader = static_cast<SideReader*>(parameter);
    const int side = reader == &readers[0] ? 0 : 1;
    for (;;) {
        uint32_t due = reader->started.load(std::memory_order_acquire);
        if (reader->quit.load(std::memory_order_acquire)) return 0;
        if (due == reader->finished.load(std::memory_order_relaxed)) {
            win.WaitForSingleObject(reader->start, kReaderPollMs);
            continue;
        }
        reader->result = ReadSide(reader->run, side, reader->readLength);
        reader->finished.store(due, std::memory_order_release);
        win.SetEvent(reader->done);
    }
}

void CloseReader(SideReader* reader) {
    if (reader->start) win.CloseHandle(reader->start);
    if (reader->done) win.CloseHandle(reader->done);
    reader->run = nullptr;
    reader->thread = reader->start = reader->done = nullptr;
    reader->readLength = 0;
    reader->result = SideRead::kGaveUp;
    reader->started.store(0);
    reader->finished.store(0);
    reader->quit.store(false);
    reader->inline_ = false;
}

bool MakeReader(SideReader* reader) {
    reader->start = win.CreateEventW(nullptr, FALSE, FALSE, nullptr);
    reader->done = win.CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (reader->start && reader->done) {
        reader->thread = win.CreateThread(nullptr, 0, ReaderMain, reader, 0, nullptr);
        if (reader->thread) return true;
    }
    CloseReader(reader);
    reader->inline_ = true;
    return false;
}

}  // namespace

void StartSideRead(RunState* run, int side, uint32_t readLength) {
    SideReader* reader = &readers[side];
    if (!recoveryLockMade) {
        win.InitializeCriticalSection(&recoveryLock);
        recoveryLockMade = true;
    }
    if (!reader->thread && !reader->inline_) MakeReader(reader);
    reader->run = run;
    reader->readLength = readLength;
    if (reader->inline_) {
        reader->result = ReadSide(run, side, readLength);
        return;
    }
    reader->started.fetch_add(1, std::memory_order_release);
    win.SetEvent(reader->start);
}

SideRead WaitSideRead(int side) {
    SideReader* reader = &readers[side];
    // The reader writes into the pair's buffer until it is done: a stop is seen by the reader,
    // at every read and retry, and ends its work; this thread waits for that.
    while (reader->finished.load(std::memory_order_acquire) != reader->started.load(std::memory_order_relaxed)) {
        win.WaitForSingleObject(reader->done, kReaderPollMs);
    }
    return reader->result;
}

void StopReaderThreads() {
    for (SideReader& reader : readers) {
        if (reader.thread) {
            reader.quit.store(true, std::memory_order_release);
            win.SetEvent(reader.start);
            bool ended = false;
            for (int poll = 0; poll < kQuitPolls && !ended; ++poll) {
                ended = win.WaitForSingleObject(reader.thread, kReaderPollMs) == WAIT_OBJECT_0;
            }
            // A reader still inside a read that does not return keeps its state and events: it
            // ends when the read does, and the process ends without waiting for it.
            if (!ended) continue;
            win.CloseHandle(reader.thread);
        }
        CloseReader(&reader);
    }
    if (recoveryLockMade) {
        win.DeleteCriticalSection(&recoveryLock);
        recoveryLockMade = false;
    }
}

CRITICAL_SECTION* RecoveryLock() { return recoveryLockMade ? &recoveryLock : nullptr; }
