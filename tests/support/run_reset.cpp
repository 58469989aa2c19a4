#include "support/run_reset.h"

#include "app/path_setup.h"
#include "app/run_sequence.h"
#include "base/memory.h"
#include "base/run_options.h"
#include "compare/reader_threads.h"
#include "compare/run_state.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "support/pair_setup.h"
#include "tree/exclude_masks.h"

void ResetRunState() {
    ReleaseRunResources();
    for (wchar_t*& mask : ExcludeMasks) {
        FreeBlock(mask);
        mask = nullptr;
    }
    if (Session) {
        FreeBlock(Session);
        Session = nullptr;
    }
    ResetStopFlags();
    ResetPrintCaches();
    Options = kDefaultRunOptions;
    path1[0] = path2[0] = 0;
    Paths = RunPaths{};
    BlockSize = kDefaultBlockSize;
    OpenFlags = kDefaultOpenFlags;
    SectorSize1 = SectorSize2 = 4096;
    ParallelReads = Side1IsNull = Side2IsNull = HardLinkSupport1 = HardLinkSupport2 = false;
    SideHandle1 = SideHandle2 = INVALID_HANDLE_VALUE;
    CompareLength = BlockCount = BytesComparedTotal = SkippedBytes = 0;
    CompareLengthMiB = LastProgressTime = 0;
    for (uint32_t& counter : ResultCounters) counter = 0;
}
