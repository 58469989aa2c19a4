#include "compare/run_state.h"

#include "base/memory.h"
#include "compare/reader_threads.h"

uint32_t BlockSize = kDefaultBlockSize;
uint8_t* CompareBuffers[2] = {};
uint32_t SectorSize1 = 4096;
uint32_t SectorSize2 = 4096;
bool ParallelReads = false;
bool Side1IsNull = false;
bool Side2IsNull = false;
bool HardLinkSupport1 = false;
bool HardLinkSupport2 = false;
FileIdList* FileIdLists[2] = {};
uint32_t OpenFlags = kDefaultOpenFlags;
HANDLE SideHandle1 = INVALID_HANDLE_VALUE;
HANDLE SideHandle2 = INVALID_HANDLE_VALUE;
const wchar_t* Side1Path = nullptr;
uint64_t CompareLength = 0;
uint32_t CompareLengthMiB = 0;
uint64_t BlockCount = 0;
uint64_t BytesComparedTotal = 0;
uint32_t LastProgressTime = 0;
uint64_t SkippedBytes = 0;
uint32_t ResultCounters[5] = {};

void ReleaseRunResources() {
    StopReaderThreads();
    for (uint8_t*& buffer : CompareBuffers) {
        ReleaseBuffer(buffer);
        buffer = nullptr;
    }
    for (FileIdList*& list : FileIdLists) {
        FreeFileIdList(list);
        list = nullptr;
    }
}
