#include "support/pair_setup.h"

#include "base/memory.h"
#include "base/run_options.h"
#include "compare/reader_threads.h"
#include "compare/run_state.h"
#include "console/control_handler.h"

void ResetStopFlags() {
    InterruptFlag.store(0);
    AbortFlag.store(0);
    PromptCancelFlag.store(0);
    PromptActiveFlag.store(0);
    LastControlEvent.store(0);
}

PairSetup::PairSetup(uint32_t blockSize, uint32_t sectorSize) {
    ResetStopFlags();
    Options = kDefaultRunOptions;
    BlockSize = blockSize;
    for (uint8_t*& buffer : CompareBuffers) buffer = static_cast<uint8_t*>(ReserveBuffer(blockSize + 1));
    SectorSize1 = SectorSize2 = sectorSize;
    ParallelReads = Side1IsNull = Side2IsNull = HardLinkSupport1 = HardLinkSupport2 = false;
    FileIdLists[0] = FileIdLists[1] = nullptr;
    OpenFlags = kDefaultOpenFlags;
    SideHandle1 = SideHandle2 = INVALID_HANDLE_VALUE;
    CompareLength = BlockCount = BytesComparedTotal = SkippedBytes = 0;
    LastProgressTime = 0;
    session.outputRedirected = 1;
    Session = &session;
}

PairSetup::~PairSetup() {
    StopReaderThreads();
    for (uint8_t*& buffer : CompareBuffers) {
        ReleaseBuffer(buffer);
        buffer = nullptr;
    }
    for (FileIdList*& list : FileIdLists) list = nullptr;
    Session = nullptr;
    Options = kDefaultRunOptions;
    BlockSize = kDefaultBlockSize;
    OpenFlags = kDefaultOpenFlags;
    ResetStopFlags();
}
