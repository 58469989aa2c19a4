// Windows' own rules under the seam. Wine accepts calls that Windows refuses: an unbuffered read
// at an unaligned place, a path of MAX_PATH characters or more without the long-path prefix, a
// handle used after it was closed. The layer sits between the seam (and every fake a test puts
// into it) and the real functions, fails such a call as Windows fails it, and records it as a
// violation naming the call, its arguments and the rule. It also keeps every handle the program
// opens, by kind, so that a second close, a close of the wrong kind and a handle left open show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace strict {

// Puts the layer under the seam: it becomes what RestoreWinApi puts back. Every volume reports,
// and holds unbuffered reads to, the sector size of QVB_STRICT_SECTOR (512 when unset).
void Install();

void SetSectorSize(uint32_t bytes);
uint32_t SectorSize();

// The violations recorded since the last call, oldest first.
std::vector<std::string> TakeViolations();

// Starts a new account of handles; Leaks lists those opened since then and still open, except
// handles whose opening thread still runs (a thread given up after a stop keeps what it holds),
// which go to `abandoned`.
void MarkHandles();
std::vector<std::string> Leaks(std::vector<std::string>* abandoned = nullptr);

// Outputs smaller than what a call always writes. The layer holds the real calls to them, and the
// fakes that answer in Windows' place above it ask them too, so that a buffer too small shows
// whoever answers. Each is true when the buffers fit; else the call is to fail: the error Windows
// gives is set and a violation recorded.
// A control code's output below the record it always writes (a fixed record, the header of a
// descriptor or of reparse data), or reparse data to set whose length is not the one it declares.
bool ControlBuffersFit(DWORD code, const void* in, DWORD inBytes, DWORD outBytes);
// A buffer for a volume GUID path, "\\?\Volume{GUID}\" and its terminator, under 50 characters.
bool VolumeGuidPathFits(const char* call, DWORD chars);

// The name of a control code the rule above knows, or null.
const char* ControlCodeName(DWORD code);

// While alive, buffers found too small on this thread fail as above without a violation: a guard
// that asks with a short buffer on purpose asks through it.
class ShortOnPurpose {
public:
    ShortOnPurpose();
    ~ShortOnPurpose();
    ShortOnPurpose(const ShortOnPurpose&) = delete;
    ShortOnPurpose& operator=(const ShortOnPurpose&) = delete;
};

}  // namespace strict
