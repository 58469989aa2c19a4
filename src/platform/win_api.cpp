#include "platform/win_api.h"

WinApi win;

namespace {

// What RestoreWinApi puts back: the real functions, or a layer over them that a test installed.
WinApi seamBase;

}  // namespace

void RestoreWinApi() { win = seamBase; }

void SetSeamBase(const WinApi& base) {
    seamBase = base;
    win = base;
}

const WinApi& SeamBase() { return seamBase; }
