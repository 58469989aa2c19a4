#include "compare/reader_threads.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/error_names.h"
#include "compare/read_until.h"
#include "compare/side_readers.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/prompts.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

// Nobody watches a run whose output goes to a file: nothing is drawn that only a console could
// show, and nobody reads a pause.
bool Unwatched() { return Session && Session->outputRedirected; }

bool IsMediaError(DWORD code) {
    return code == ERROR_CRC || code == ERROR_SECTOR_NOT_FOUND || code == ERROR_SEM_TIMEOUT || code == ERROR_IO_DEVICE;
}

// The answer to a yes/no prompt that has just been printed; unattended the default, shown as if
// it had been typed so that a log says what was decided.
bool AnswerYesNo(wchar_t defaultKey) {
    if (!NobodyAnswers(Session)) return AskYesNo(defaultKey);
    PrintOut(" %C", defaultKey);
    return defaultKey == L'Y';
}

// After "N" at a read-error prompt: a short pause before the same read is tried again.
void AnnounceRetry() {
    win.Sleep(500);
    ClearStatusLine();
    PrintOut("try reading...");
}

// Opens the side's path again, as the first open did, until it works or the user gives up.
bool Reopen(PairSide* side, int index, uint32_t flags) {
    for (;;) {
        side->openFlags = flags;
        side->handle = win.CreateFileW(side->path, GENERIC_READ, kSideShareMode, nullptr, OPEN_EXISTING, flags, nullptr);
        if (side->handle != INVALID_HANDLE_VALUE) return true;
        PrintErr("Error %s reopening file%i - abort? (Y/N)", LastErrorName(), index + 1);
        bool abort = AnswerYesNo(L'Y');
        PrintErr("\n");
        if (abort) return false;
    }
}

void Note(SideNotes* notes, const char* format, const char* error, int index) {
    if (!notes->reason[0]) snprintf(notes->reason, sizeof notes->reason, format, error, index + 1);
}

// With both sides read at once, the recovery of one side waits for that of the other: two
// prompts or two sector counts on one status line would mix.
struct RecoveryTurn {
    CRITICAL_SECTION* held = nullptr;
    void Take() {
        if (held) return;
        held = RecoveryLock();
        if (held) win.EnterCriticalSection(held);
    }
    ~RecoveryTurn() {
        if (held) win.LeaveCriticalSection(held);
    }
};

}  // namespace

BOOL SeekTo(HANDLE handle, uint64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return win.SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);
}

bool SeekSide(HANDLE handle, uint64_t position, int side) {
    if (SeekTo(handle, position)) return true;
    PrintErr("\nerror %s positioning file%i at offset %I64u -> abort\n", LastErrorName(), side + 1, position);
    return false;
}

Recovery ChooseRecovery(DWORD error, int32_t reopenRounds, int32_t retryCount, bool unbuffered) {
    // RetryCount reads in all, as for a sector: the first and one after each reopen.
    if (IsReopenableError(error)) return reopenRounds >= retryCount ? Recovery::kSectorBySector : Recovery::kReopen;
    if (IsMediaError(error)) return Recovery::kSectorBySector;
    if (error == ERROR_INVALID_PARAMETER && unbuffered) return Recovery::kReopenBuffered;
    return Recovery::kAsk;
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

namespace {

bool IsEndOfMedium(DWORD code) { return code == ERROR_SECTOR_NOT_FOUND || code == ERROR_INVALID_PARAMETER; }

// Whether a medium of untold length really ends where a sector read failed as at its end: the
// sector after it ends too. A bad sector inside the medium would otherwise be taken for its end,
// and everything behind it would go unread without a word. The probe reads into `scratch`.
bool EndConfirmed(HANDLE handle, uint64_t after, uint8_t* scratch, uint32_t sector) {
    if (!SeekTo(handle, after)) return false;
    DWORD got = 0;
    bool read = win.ReadFile(handle, scratch, sector, &got, nullptr) != 0;
    DWORD error = read ? 0 : win.GetLastError();
    memset(scratch, 0, sector);
    return read ? got == 0 : IsEndOfMedium(error) || error == ERROR_HANDLE_EOF;
}

}  // namespace

namespace {

// How sector reading left the block.
enum class SectorsEnd {
    kTried,        // every sector was read or named unread
    kFileEnds,     // the file ends inside the block: what lies after the end is unread
    kSideEnds,     // the end of a side of untold length: there the side ends
    kMediumEnds,   // the end of the medium inside the compared range: the rest is unread
    kStopped,      // a stop: the rest is unread
    kPlacedWrong,  // a seek failed: the handle stands elsewhere
};

// Up to RetryCount reads of one sector, each retry counted on the status line from `column` (-1:
// nobody watches). True when it was read; `have` is what it delivered, which only the end of the
// file makes less than a sector, and `error` why the last attempt failed.
bool ReadSector(HANDLE handle, bool unbuffered, uint8_t* target, uint32_t sector, int column, uint32_t* have,
                DWORD* error) {
    const int32_t attempts = Options.RetryCount;
    for (int32_t k = 1; k <= attempts && !StopRequested();) {
        const ReadUntilResult read =
            ReadUntil(handle, target + *have, sector - *have, sector - *have, kWhereItStands, unbuffered ? sector : 0);
        *have += read.bytes;
        if (read.error == ERROR_SUCCESS) return true;
        *error = read.error;
        if (column >= 0 && k < attempts && attempts > 1) WriteStatusAt(column, " retry %i of %i    ", k, attempts - 1);
        ++k;
    }
    return false;
}

}  // namespace

namespace {

// Where sector reading stands in a block, and how it left it so far.
struct SectorWalk {
    HANDLE handle;
    bool unbuffered;
    uint32_t sector;
    uint64_t blockStart;
    bool untoldLength;  // the end of the medium is the side's end
    bool watched;       // a console shows the sector count and the retries
    int successes;
    int failures;
    SectorsEnd how;
    uint32_t tried;  // the bytes of the block read or named unread so far
};

// Sector `s` of the block into `target`: read, named unread, or found to be the end. True when it
// was read short: the file ends in it.
bool WalkSector(SectorWalk* w, int s, int sectors, uint8_t* target, UnreadRanges* unread) {
    const uint32_t sector = w->sector;
    memset(target, 0, sector);
    int column = 0;
    if (w->watched) {
        ClearStatusLine();
        PrintOut("Reading sector %i of %i...", s + 1, sectors);
        column = CursorColumnOf(Session);
    }
    uint32_t have = 0;
    DWORD error = 0;
    const bool read = ReadSector(w->handle, w->unbuffered, target, sector, w->watched ? column : -1, &have, &error);
    if (w->watched) EraseToColumn(Session, column);
    const uint64_t next = w->blockStart + static_cast<uint64_t>(s + 1) * sector;
    if (read) {
        ++w->successes;
        w->tried = s * sector + have;
        // A sector read short is where the file ends.
        if (have == sector) return false;
        w->how = w->untoldLength ? SectorsEnd::kSideEnds : SectorsEnd::kFileEnds;
        return true;
    }
    ++w->failures;
    if (w->watched) PrintOut("  %i failed", w->failures);
    if (IsEndOfMedium(error) && (!w->untoldLength || EndConfirmed(w->handle, next, target, sector))) {
        w->tried = s * sector;
        w->how = w->untoldLength ? SectorsEnd::kSideEnds : SectorsEnd::kMediumEnds;
        return false;
    }
    AddUnreadRange(unread, s * sector, (s + 1) * sector);
    w->tried = (s + 1) * sector;
    if (!SeekTo(w->handle, next)) w->how = SectorsEnd::kPlacedWrong;  // step over the bad sector
    return false;
}

}  // namespace

int ReadSectorBySector(HANDLE handle, bool unbuffered, uint8_t* buffer, uint32_t length, uint32_t sectorSize,
                       UnreadRanges* unread, uint64_t blockStart, uint32_t* mediumEnd, int side) {
    // Unattended, only whole lines: a log has no status line to count sectors and retries on.
    SectorWalk w = {handle, unbuffered, sectorSize, blockStart, mediumEnd != nullptr, !Unwatched(), 0, 0,
                    SectorsEnd::kTried, 0};
    int sectors = static_cast<int>(length / sectorSize);
    ClearStatusLine();
    for (int s = 0; s < sectors && w.how == SectorsEnd::kTried; ++s) {
        if (WalkSector(&w, s, sectors, buffer + static_cast<size_t>(s) * sectorSize, unread)) sectors = s + 1;
        if (w.how == SectorsEnd::kTried && AbortFlag.load(std::memory_order_relaxed)) w.how = SectorsEnd::kStopped;
    }
    // One way out: what was not read must not keep the previous block's bytes, and the next block
    // must not start inside this one.
    const uint32_t tried = w.tried;
    memset(buffer + tried, 0, length - tried);
    if (w.how == SectorsEnd::kSideEnds) {
        *mediumEnd = tried;
        return 1;
    }
    AddUnreadRange(unread, tried, length);
    bool placed = w.how != SectorsEnd::kPlacedWrong && (tried == length || SeekTo(handle, blockStart + length));
    if (w.how != SectorsEnd::kMediumEnds) {
        ClearStatusLine();
        if (!AbortFlag.load(std::memory_order_relaxed)) {
            PrintOut("%i of %i sectors successfully read, %i failed\n", w.successes, sectors, sectors - w.successes);
        }
    }
    if (!placed) {
        PrintErr("error %s positioning file%i -> abort\n", LastErrorName(), side + 1);
        return 0;
    }
    // The pause lets a person read the summary; unattended, on thousands of bad blocks, it would
    // add as many seconds.
    if (w.watched && w.how != SectorsEnd::kMediumEnds) win.Sleep(1000);
    return w.successes > 0 ? 1 : 0;
}

SideRequest RequestFor(const RunState& run, uint8_t* buffer, uint64_t position, uint32_t readLength) {
    // The bytes of the block that lie before the end of the compared range. A read that returns
    // fewer before that point (usual on network and user-mode file systems when an error begins
    // inside the block) has not reached the end: the rest is read, and the read that fails there
    // tells why.
    const uint64_t left = run.pair.CompareLength > position ? run.pair.CompareLength - position : 0;
    const uint32_t due = left < readLength ? static_cast<uint32_t>(left) : readLength;
    return {buffer, position, readLength, due, run.pair.LengthUnknown, false, run.OpenFlags};
}

void TakeSideNotes(RunState* run, const SideNotes& notes) {
    if (notes.refusedUnbuffered) run->OpenFlags &= ~static_cast<uint32_t>(FILE_FLAG_NO_BUFFERING);
    if (notes.reason[0]) NoteReason(&run->pair, "%s", notes.reason);
}

SideRead ReadRunSide(RunState* run, int index, const SideRequest& request) {
    SideNotes notes = {};
    const SideRead result = ReadSide(&run->pair.side[index], index, request, &notes);
    TakeSideNotes(run, notes);
    return result;
}

namespace {

// The whole block, sector by sector, from where the handle stands. Where the length is known only
// by reading to the end, the end of the medium is that end.
SideRead ReadBlockBySectors(PairSide* side, int index, const SideRequest& request) {
    uint32_t end = request.readLength;
    int read = ReadSectorBySector(side->handle, (side->openFlags & FILE_FLAG_NO_BUFFERING) != 0, request.buffer,
                                  request.readLength, side->sectorSize, &side->unread, request.position,
                                  request.lengthUnknown ? &end : nullptr, index);
    side->delivered = end;
    return read ? SideRead::kWhole : SideRead::kGaveUp;
}

}  // namespace

namespace {

// The block's reads until one fails: false with `error` set, or true when it came whole or ended
// at the end of the file. After a retry the reading goes on where the handle stands, behind what
// came before. An error kept for another block is that block's: this one is read afresh.
bool ReadOn(PairSide* side, const SideRequest& request, uint32_t* filled, DWORD* error) {
    *error = side->deferredAt == request.position ? side->deferredError : ERROR_SUCCESS;
    side->deferredError = ERROR_SUCCESS;
    if (*error == ERROR_SUCCESS) {
        const bool unbuffered = (side->openFlags & FILE_FLAG_NO_BUFFERING) != 0;
        const ReadUntilResult read =
            ReadUntil(side->handle, request.buffer + *filled, request.readLength - *filled,
                      request.due > *filled ? request.due - *filled : 0, kWhereItStands, unbuffered ? side->sectorSize : 0);
        *filled += read.bytes;
        *error = read.error;
    }
    if (*error != ERROR_SUCCESS && *error != ERROR_HANDLE_EOF) return false;
    side->delivered = *filled;
    return true;
}

// After "N" at a read-error prompt the same read is tried again; "Y" gives the block up.
bool AskToGiveUp(DWORD error, int index, SideNotes* notes) {
    // Side 2 starts its prompt at the line start and leaves the line end to the abort message.
    PrintOut(index == 0 ? "read error %s - abort? (Y/N)" : "\rread error %s - abort? (Y/N)", ErrorName(error));
    if (!AnswerYesNo(L'Y')) {
        AnnounceRetry();
        return false;
    }
    if (index == 0 || NobodyAnswers(Session)) PrintOut("\n");
    Note(notes, "read error %s in file%i", ErrorName(error), index);
    return true;
}

// A new handle in place of the side's, placed at the block's start; false when none can be had.
bool ReopenAt(PairSide* side, int index, const SideRequest& request, Recovery recovery, DWORD error,
              SideNotes* notes) {
    win.CloseHandle(side->handle);
    side->handle = INVALID_HANDLE_VALUE;
    uint32_t flags = request.reopenFlags;
    // A volume that refuses unbuffered reads refuses them for every later open too.
    if (recovery == Recovery::kReopenBuffered || notes->refusedUnbuffered) {
        flags &= ~static_cast<uint32_t>(FILE_FLAG_NO_BUFFERING);
        notes->refusedUnbuffered = true;
    }
    if (Reopen(side, index, flags) && SeekSide(side->handle, request.position, index)) return true;
    Note(notes, "%s reopening file%i", ErrorName(error), index);
    return false;
}

}  // namespace

// Reads the block of one side, recovering from read errors by their class: media errors sector by
// sector, reopenable ones by a new handle, anything else by asking. Both sides recover alike: a
// target disk fails as often as a source.
SideRead ReadSide(PairSide* side, int index, const SideRequest& request, SideNotes* notes) {
    RecoveryTurn turn;
    // A medium that answers every open and fails every read (a card pulled from its reader, a
    // share that accepts opens) would be reopened forever, also when its errors take turns; after
    // RetryCount reads failing in a reopenable way the block is read sector by sector, so that
    // what can be read is still compared.
    int32_t reopenRounds = 0;
    uint32_t filled = 0;
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        if (ReadOn(side, request, &filled, &error)) return SideRead::kWhole;
        // Recovered later, in the block's turn: the handle still stands at the block's start.
        if (request.deferErrors && filled == 0) {
            side->deferredError = error;
            side->deferredAt = request.position;
            return SideRead::kDeferred;
        }
        if (StopRequested()) return SideRead::kGaveUp;
        turn.Take();
        // The other side's recovery may have ended with a stop: no new prompt after it.
        if (StopRequested()) return SideRead::kGaveUp;
        ClearStatusLine();
        if (IsReopenableError(error)) ++reopenRounds;
        const Recovery recovery =
            ChooseRecovery(error, reopenRounds, Options.RetryCount, (side->openFlags & FILE_FLAG_NO_BUFFERING) != 0);
        if (recovery == Recovery::kSectorBySector) {
            if (IsReopenableError(error)) {
                PrintOut("error %s after %i reopens - try reading single sectors...\n", ErrorName(error),
                         reopenRounds - 1);
            } else {
                PrintOut("error %s - try reading single sectors...\n", ErrorName(error));
            }
            if (filled != 0 && !SeekSide(side->handle, request.position, index)) return SideRead::kGaveUp;
            return ReadBlockBySectors(side, index, request);
        }
        if (recovery == Recovery::kReopen || recovery == Recovery::kReopenBuffered) {
            if (!ReopenAt(side, index, request, recovery, error, notes)) return SideRead::kGaveUp;
            filled = 0;
            continue;
        }
        if (AskToGiveUp(error, index, notes)) return SideRead::kGaveUp;
    }
}
