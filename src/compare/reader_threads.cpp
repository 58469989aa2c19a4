#include "compare/reader_threads.h"

#include <cstring>

#include "base/run_options.h"
#include "base/waits.h"
#include "compare/error_names.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/prompts.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

bool OutputRedirected() { return Session && Session->outputRedirected; }

bool IsMediaError(DWORD code) {
    return code == ERROR_CRC || code == ERROR_SECTOR_NOT_FOUND || code == ERROR_SEM_TIMEOUT || code == ERROR_IO_DEVICE;
}

// After "N" at a read-error prompt: a short pause before the same read is tried again.
void AnnounceRetry() {
    win.Sleep(500);
    ClearStatusLine();
    PrintOut("try reading...");
}

// Opens Side1Path again until it works or the user gives up.
bool ReopenSide1(RunState* run) {
    for (;;) {
        run->SideHandle1 = win.CreateFileW(run->Side1Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, run->OpenFlags, nullptr);
        if (run->SideHandle1 != INVALID_HANDLE_VALUE) return true;
        PrintErr("Error %s reopening file1 - abort? (Y/N)", LastErrorName());
        bool abort = AskYesNo(L'Y');
        PrintErr("\n");
        if (abort) return false;
    }
}

}  // namespace

BOOL SeekTo(HANDLE handle, uint64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return win.SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);
}

bool IsReopenableError(DWORD code) {
    switch (code) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_NOT_READY:
        case ERROR_WRONG_DISK:
        case ERROR_BAD_NETPATH:
        case ERROR_NETWORK_BUSY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NETNAME_DELETED:
        case ERROR_FILE_INVALID:
        case ERROR_MEDIA_CHANGED: return true;
        default: return false;
    }
}

int ReadSectorBySector(HANDLE handle, uint8_t* buffer, uint32_t length, uint32_t sectorSize, UnreadRanges* unread,
                       uint64_t blockStart) {
    const uint32_t sector = sectorSize;
    const int sectors = static_cast<int>(length / sector);
    const int32_t attempts = Options.RetryCount;
    int successes = 0, failures = 0;
    ClearStatusLine();
    int s = 0;
    for (; s < sectors; ++s) {
        uint8_t* target = buffer + static_cast<size_t>(s) * sector;
        memset(target, 0, sector);
        ClearStatusLine();
        PrintOut("Reading sector %i of %i...", s + 1, sectors);
        int column = CursorColumnOf(Session);
        bool read = false;
        DWORD error = 0;
        for (int32_t k = 1; k <= attempts && !StopRequested(); ++k) {
            DWORD got = 0;
            if (win.ReadFile(handle, target, sector, &got, nullptr)) {
                read = true;
                EraseToColumn(Session, column);
                break;
            }
            error = win.GetLastError();
            if (k < attempts && attempts > 1) WriteStatusAt(column, " retry %i of %i    ", k, attempts - 1);
        }
        EraseToColumn(Session, column);
        if (read) {
            ++successes;
        } else {
            PrintOut("  %i failed", ++failures);
            if (error == ERROR_SECTOR_NOT_FOUND || error == ERROR_INVALID_PARAMETER) {
                // The end of the medium. What was not read must not keep the previous block's bytes,
                // and the next block must not start inside this one.
                memset(target, 0, length - static_cast<size_t>(s) * sector);
                AddUnreadRange(unread, s * sector, length);
                SeekTo(handle, blockStart + length);
                return successes > 0 ? 1 : 0;
            }
            AddUnreadRange(unread, s * sector, (s + 1) * sector);
            LONG high = 0;
            win.SetFilePointer(handle, static_cast<LONG>(sector), &high, FILE_CURRENT);  // step over the bad sector
        }
        if (AbortFlag.load(std::memory_order_relaxed)) {
            ++s;
            break;
        }
    }
    if (s < sectors) {
        memset(buffer + static_cast<size_t>(s) * sector, 0, length - static_cast<size_t>(s) * sector);
        AddUnreadRange(unread, s * sector, length);
        SeekTo(handle, blockStart + length);
    }
    ClearStatusLine();
    if (!AbortFlag.load(std::memory_order_relaxed)) {
        PrintOut("%i of %i sectors successfully read, %i failed\n", successes, sectors, sectors - successes);
    }
    // The pause lets a person read the summary; unattended, on thousands of bad blocks, it would
    // add as many seconds.
    if (!OutputRedirected()) win.Sleep(1000);
    return successes > 0 ? 1 : 0;
}

namespace {

// The bytes of the block that lie before the end of the compared range. A read that returns fewer
// before that point (usual on network and user-mode file systems when an error begins inside the
// block) has not reached the end: the rest is read, and the read that fails there tells why.
uint32_t BytesDue(const RunState& run, uint32_t readLength) {
    uint64_t left = run.CompareLength > run.BlockPosition ? run.CompareLength - run.BlockPosition : 0;
    return left < readLength ? static_cast<uint32_t>(left) : readLength;
}

}  // namespace

uint32_t ReadSide1(RunState* run, uint32_t readLength) {
    const uint64_t position = run->BlockPosition;
    // A medium that answers every open and fails every read (a card pulled from its reader, a
    // share that accepts opens) would be reopened forever; after RetryCount reads failing with the
    // same error the block is read sector by sector, so that what can be read is still compared.
    DWORD reopenedFor = ERROR_SUCCESS;
    int32_t reopenRounds = 0;
    const uint32_t due = BytesDue(*run, readLength);
    uint32_t filled = 0;
    for (;;) {
        DWORD got = 0;
        if (win.ReadFile(run->SideHandle1, run->CompareBuffers[0] + filled, readLength - filled, &got, nullptr)) {
            filled += got;
            if (got != 0 && filled < due) continue;
            run->BytesRead[0] = filled;
            return 1;
        }
        DWORD error = win.GetLastError();
        if (StopRequested() || OutputRedirected()) return 0;
        ClearStatusLine();

        if (IsReopenableError(error)) {
            reopenRounds = error == reopenedFor ? reopenRounds + 1 : 1;
            reopenedFor = error;
        }
        // RetryCount reads in all, as for a sector: the first and one after each reopen.
        bool reopenedEnough = IsReopenableError(error) && reopenRounds >= Options.RetryCount;
        if (reopenedEnough) {
            PrintOut("error %s after %i reopens - try reading single sectors...\n", ErrorName(error), reopenRounds - 1);
        }
        if (IsMediaError(error) || reopenedEnough) {
            if (!reopenedEnough) PrintOut("error %s - try reading single sectors...\n", ErrorName(error));
            run->BytesRead[0] = readLength;
            if (filled != 0) SeekTo(run->SideHandle1, position);  // the whole block, sector by sector
            return static_cast<uint32_t>(ReadSectorBySector(run->SideHandle1, run->CompareBuffers[0], readLength,
                                                            run->SectorSize1, &run->Unread[0], position));
        }
        bool unbufferedRefused = error == ERROR_INVALID_PARAMETER && (run->OpenFlags & FILE_FLAG_NO_BUFFERING);
        if (IsReopenableError(error) || unbufferedRefused) {
            win.CloseHandle(run->SideHandle1);
            run->SideHandle1 = INVALID_HANDLE_VALUE;
            // A volume that refuses unbuffered reads refuses them for every later open too.
            if (unbufferedRefused) run->OpenFlags &= ~static_cast<uint32_t>(FILE_FLAG_NO_BUFFERING);
            if (!ReopenSide1(run)) return 0;
            SeekTo(run->SideHandle1, position);
            filled = 0;
            continue;
        }
        PrintOut("read error %s - abort? (Y/N)", ErrorName(error));
        if (AskYesNo(L'Y')) {
            PrintOut("\n");
            return 0;
        }
        AnnounceRetry();
    }
}

uint32_t ReadSide2(RunState* run, uint32_t readLength) {
    const uint32_t due = BytesDue(*run, readLength);
    uint32_t filled = 0;
    for (;;) {
        DWORD got = 0;
        if (win.ReadFile(run->SideHandle2, run->CompareBuffers[1] + filled, readLength - filled, &got, nullptr)) {
            filled += got;
            if (got != 0 && filled < due) continue;
            run->BytesRead[1] = filled;
            return 1;
        }
        DWORD error = win.GetLastError();
        if (OutputRedirected()) return 0;
        ClearStatusLine();
        PrintOut("\rread error %s - abort? (Y/N)", ErrorName(error));
        if (AskYesNo(L'Y')) return 0;
        AnnounceRetry();
    }
}

namespace {

// One persistent thread per side: creating two threads per block would cost more than reading
// a block from the cache.
struct SideReader {
    RunState* run;  // of the block being read
    HANDLE thread;
    HANDLE start;  // auto-reset: a block is waiting
    HANDLE done;   // auto-reset: the block is read
    uint32_t readLength;
    uint32_t result;
    bool pending;  // started and not yet waited for
    bool quit;
    bool inline_;  // no thread could be made: reads run on the caller's thread
};

SideReader readers[2] = {};

uint32_t ReadBlock(RunState* run, int side, uint32_t readLength) {
    return side == 0 ? ReadSide1(run, readLength) : ReadSide2(run, readLength);
}

DWORD WINAPI ReaderMain(LPVOID parameter) {
    auto* reader = static_cast<SideReader*>(parameter);
    const int side = reader == &readers[0] ? 0 : 1;
    for (;;) {
        WaitUntilSignalled(reader->start);
        if (reader->quit) return 0;
        reader->result = ReadBlock(reader->run, side, reader->readLength);
        win.SetEvent(reader->done);
    }
}

void CloseReader(SideReader* reader) {
    if (reader->start) win.CloseHandle(reader->start);
    if (reader->done) win.CloseHandle(reader->done);
    *reader = {};
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
    if (!reader->thread && !reader->inline_) MakeReader(reader);
    reader->run = run;
    reader->readLength = readLength;
    if (reader->inline_) {
        reader->result = ReadBlock(run, side, readLength);
        return;
    }
    reader->pending = true;
    win.SetEvent(reader->start);
}

uint32_t WaitSideRead(int side) {
    SideReader* reader = &readers[side];
    if (reader->pending) {
        WaitUntilSignalled(reader->done);
        reader->pending = false;
    }
    return reader->result;
}

void StopReaderThreads() {
    for (SideReader& reader : readers) {
        if (reader.thread) {
            reader.quit = true;
            win.SetEvent(reader.start);
            WaitUntilSignalled(reader.thread);
            win.CloseHandle(reader.thread);
        }
        CloseReader(&reader);
    }
}
