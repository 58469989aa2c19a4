#include "base/run_state.h"

#include <cstring>
#include <type_traits>

// Cleared in place: the structure holds several path buffers, too large for a temporary.
static_assert(std::is_trivially_copyable_v<RunState>);

void SetRunStateDefaults(RunState* run) {
    memset(run, 0, sizeof *run);
    run->BlockSize = kDefaultBlockSize;
    run->SectorSize1 = run->SectorSize2 = kUnknownSectorSize;
    run->OpenFlags = kDefaultOpenFlags;
    run->SideHandle1 = run->SideHandle2 = INVALID_HANDLE_VALUE;
}
