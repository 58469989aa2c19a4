// The state of a run that the comparison engine reads and writes: set up once before the first
// pair, then updated pair by pair. Only the main thread writes it, except where noted.
#pragma once

#include <cstdint>

#include "base/types.h"
#include "compare/file_identity.h"
#include "platform/windows.h"

constexpr uint32_t kDefaultBlockSize = 1048576;
constexpr uint32_t kDefaultOpenFlags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;

// Set before the first pair.
extern uint32_t BlockSize;
extern uint8_t* CompareBuffers[2];  // BlockSize + 1 bytes each in whole pages, zero when reserved
extern uint32_t SectorSize1;
extern uint32_t SectorSize2;
extern bool ParallelReads;
extern bool Side1IsNull;
extern bool Side2IsNull;
extern bool HardLinkSupport1;
extern bool HardLinkSupport2;
extern FileIdList* FileIdLists[2];  // null for a side whose volume has no hard links

// CreateFileW flags of every open; the side-1 reader drops FILE_FLAG_NO_BUFFERING for the rest of
// the run when a volume refuses unbuffered reads.
extern uint32_t OpenFlags;

// The pair being compared. The side-1 reader may replace SideHandle1 while the main thread waits.
extern HANDLE SideHandle1;
extern HANDLE SideHandle2;
extern const wchar_t* Side1Path;
extern uint64_t CompareLength;  // end of the compared range, start offset included
extern uint32_t CompareLengthMiB;
extern uint64_t BlockCount;

// Run totals.
extern uint64_t BytesComparedTotal;
extern uint32_t LastProgressTime;   // ms since the start of a pair; never reset between pairs
extern uint64_t SkippedBytes;       // zero-block skipping is not done, so this stays 0
extern uint32_t ResultCounters[5];  // indexed by CompareOutcome

// Stops the reader threads and releases the compare buffers and hard-link lists of the run.
void ReleaseRunResources();
