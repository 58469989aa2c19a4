#include "compare/allocated_ranges.h"

#include "platform/win_api.h"

namespace {

// The ranges from `from` on; false (inactive) where the system gives no usable answer.
bool QueryFrom(AllocatedRanges* r, uint64_t from) {
    r->count = r->next = 0;
    r->more = false;
    if (from >= r->fileEnd) return true;
    FILE_ALLOCATED_RANGE_BUFFER query;
    query.FileOffset.QuadPart = static_cast<LONGLONG>(from);
    query.Length.QuadPart = static_cast<LONGLONG>(r->fileEnd - from);
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(r->handle, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, r->ranges,
                                  sizeof r->ranges, &returned, nullptr);
    if (!ok && win.GetLastError() != ERROR_MORE_DATA) return false;
    // Only whole records count, and never more than the buffer holds.
    uint32_t count = returned / sizeof(FILE_ALLOCATED_RANGE_BUFFER);
    r->count = count < AllocatedRanges::kWindow ? count : AllocatedRanges::kWindow;
    r->more = !ok;
    // A window that says there is more but holds nothing would never move on.
    return !(r->more && r->count == 0);
}

uint64_t RangeEnd(const FILE_ALLOCATED_RANGE_BUFFER& range) {
    return static_cast<uint64_t>(range.FileOffset.QuadPart) + static_cast<uint64_t>(range.Length.QuadPart);
}

}  // namespace

void StartAllocatedRanges(AllocatedRanges* ranges, HANDLE handle, uint64_t fileEnd) {
    ranges->handle = handle;
    ranges->fileEnd = fileEnd;
    ranges->active = QueryFrom(ranges, 0);
}

bool InHole(AllocatedRanges* r, uint64_t begin, uint64_t end) {
    if (!r->active) return false;
    for (;;) {
        while (r->next < r->count && RangeEnd(r->ranges[r->next]) <= begin) ++r->next;
        if (r->next < r->count) return static_cast<uint64_t>(r->ranges[r->next].FileOffset.QuadPart) >= end;
        if (!r->more) return true;
        // The window is used up: the next one starts where it ended, or at the block.
        uint64_t from = r->count ? RangeEnd(r->ranges[r->count - 1]) : begin;
        if (!QueryFrom(r, from > begin ? from : begin)) {
            r->active = false;
            return false;
        }
    }
}
