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

}  // namespace strict
