#include "base/run_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

// Cleared in place: the structure holds several path buffers, too large for a temporary.
static_assert(std::is_trivially_copyable_v<RunState>);

void SetRunStateDefaults(RunState* run) {
    memset(run, 0, sizeof *run);
    run->setup.BlockSize = kDefaultBlockSize;
    run->setup.SectorSize[0] = run->setup.SectorSize[1] = kUnknownSectorSize;
    run->OpenFlags = kDefaultOpenFlags;
    run->pair.side[0].handle = run->pair.side[1].handle = INVALID_HANDLE_VALUE;
}

void AddUnreadRange(UnreadRanges* ranges, uint32_t begin, uint32_t end) {
    if (begin >= end) return;
    uint32_t last = ranges->count - 1;
    if (ranges->count != 0 && begin <= ranges->end[last]) {
        if (end > ranges->end[last]) ranges->end[last] = end;
        return;
    }
    if (ranges->count == UnreadRanges::kMost) {
        ranges->end[last] = end;
        return;
    }
    ranges->begin[ranges->count] = begin;
    ranges->end[ranges->count] = end;
    ++ranges->count;
}

void NoteReason(PairState* pair, const char* format, ...) {
    if (pair->Reason[0]) return;
    va_list args;
    va_start(args, format);
    int length = vsnprintf(pair->Reason, sizeof pair->Reason, format, args);
    va_end(args);
    if (length < 0) pair->Reason[0] = 0;
}
