// Symbolic links and junctions met in tree 1: read, and reproduced in tree 2 under the same name
// instead of being followed.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "platform/windows.h"

// The fields of a junction or symbolic link, taken from reparse data that has been checked to
// lie wholly inside the bytes the system returned.
struct LinkData {
    uint32_t tag;
    uint32_t flags;             // symbolic links only
    const wchar_t* substitute;  // not terminated; may be unaligned, so copy with memcpy
    uint32_t substituteChars;
    const wchar_t* printName;
    uint32_t printChars;
};

// Takes `bytes` bytes of reparse data apart. False for another tag, and for data whose lengths
// or name offsets reach beyond what was returned: such an entry is no link to us.
bool ParseLinkData(const uint8_t* data, uint32_t bytes, LinkData* link);

// The target of the junction or symbolic link at `path`, "\??\" turned into "\\?\"; null when
// the path cannot be opened or read, is another kind of reparse point, or names no target.
wchar_t* ReadLinkTarget(const wchar_t* path);

// Reproduces the link at `path1` as `path2`: reparse data, times, the kind printed. A link into
// tree 1 on another drive is pointed at the same place below the run's tree 2. Never turns an
// entry of tree 2 that holds data into a link, and writes nothing into a tree-2 folder below the
// root that is a link (the walk's count of them, or the final path of what was opened, tells):
// it would land wherever that folder leads. A link that could not be written leaves nothing
// behind that this call created. False, with its line on standard error, when the link was not
// reproduced for any reason: whatever tree 2 holds at that name was then not compared.
bool ReplicateLink(const RunState& run, const wchar_t* path1, const wchar_t* path2, bool isFolder);

// The drive letter as written: "\??\D:" or "\\?\D:", else "D:"; 0 when there is none.
wchar_t LinkDriveLetter(const wchar_t* path);
