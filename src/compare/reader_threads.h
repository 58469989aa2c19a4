// Reading one block of each side, with the recovery from read errors, on a thread per side.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "platform/windows.h"

// How the reading of one side's block ended.
enum class SideRead : uint32_t {
    kGaveUp,  // the reading was given up (a stop, an answer, a handle that cannot be placed)
    kWhole,   // the buffer holds the block, unreadable sectors as zeros named in `unread`
    // With `deferErrors`, the block's first read failed: the error is kept with the block in the
    // side's deferredError, and the next read of that block recovers from it.
    kDeferred,
};

// One block of one side to read, all the reading needs beside the side itself.
struct SideRequest {
    uint8_t* buffer;      // the block's bytes go here
    uint64_t position;    // where the block begins; the handle stands there
    uint32_t readLength;  // whole sectors
    uint32_t due;         // of those, the bytes before the end of the compared range
    bool lengthUnknown;   // a device read to its end: the end of the medium is the side's end
    bool deferErrors;
    uint32_t reopenFlags;  // the CreateFileW flags of a reopen: the run's
};

// What the reading of a side tells the run beyond the side: taken over by the main thread.
struct SideNotes {
    bool refusedUnbuffered;  // no handle of the run is opened unbuffered any more
    char reason[128];        // why the pair is not verified, if the reading found a cause
};

// The request for a block of the current pair, its side's part of the compared range.
SideRequest RequestFor(const RunState& run, uint8_t* buffer, uint64_t position, uint32_t readLength);

// Reads the block of one side (0 or 1): sector by sector after a media error (and after
// RetryCount reads that fail in a reopenable way), reopening after a lost share or medium, asking
// the user after anything else; when nobody can answer every question takes its default answer.
// Writes the side's delivered bytes and unread ranges, and may replace its handle.
SideRead ReadSide(PairSide* side, int index, const SideRequest& request, SideNotes* notes);

// The run takes over what a side's reading noted: the first reason, and unbuffered reads refused.
void TakeSideNotes(RunState* run, const SideNotes& notes);

// ReadSide on the calling thread, for the run's own side `index`.
SideRead ReadRunSide(RunState* run, int index, const SideRequest& request);

// Reads `length` bytes one `sectorSize` sector at a time, each with up to RetryCount attempts;
// an unreadable sector stays zero and is added to `unread`, as is the rest of the block after
// the end of the medium or a stop. 1 when at least one sector was read.
// `blockStart` is where the block begins in the file. With `mediumEnd`, the end of the medium
// (or of the file) is no unread range but the side's end: its offset in the block is stored there;
// a sector that fails as at the end counts as the end only when the sector after it ends too.
// 0 also when a seek failed: the handle no longer stands where the next read must begin.
// `unbuffered`: the handle was opened with FILE_FLAG_NO_BUFFERING.
int ReadSectorBySector(HANDLE handle, bool unbuffered, uint8_t* buffer, uint32_t length, uint32_t sectorSize,
                       UnreadRanges* unread, uint64_t blockStart, uint32_t* mediumEnd, int side);

// Every open of a side shares as the first: a reopen that asked for less could fail where the
// first open worked.
constexpr DWORD kSideShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

BOOL SeekTo(HANDLE handle, uint64_t position);

// SeekTo, with "error ... positioning file%i" on standard error when it fails: whatever the
// side reads after a failed seek would be compared against the wrong bytes.
bool SeekSide(HANDLE handle, uint64_t position, int side);  // side 0 or 1

// A lost network name, a changed or missing medium: the open handle is worth replacing.
bool IsReopenableError(DWORD code);

// What a failed read of a block leads to.
enum class Recovery {
    kSectorBySector,  // a media error, or a reopenable one met RetryCount times for this block
    kReopen,          // a lost share or medium: a new handle from the side's path
    kReopenBuffered,  // unbuffered reads refused: a new handle without FILE_FLAG_NO_BUFFERING
    kAsk,             // nothing mends it: the user decides (unattended, the default answer)
};

// The recovery from `error`, met for the `reopenRounds`th time in a reopenable way in this block
// (0 when it is no such error), on a handle opened `unbuffered` or not.
Recovery ChooseRecovery(DWORD error, int32_t reopenRounds, int32_t retryCount, bool unbuffered);
