#include "base/waits.h"

#include "platform/win_api.h"

namespace {

constexpr int kWaitAttempts = 1000;
constexpr DWORD kPauseMs = 10;

}  // namespace

bool WaitUntilSignalled(HANDLE object) {
    for (int attempt = 1; attempt <= kWaitAttempts; ++attempt) {
        if (win.WaitForSingleObject(object, INFINITE) != WAIT_FAILED) return true;
        win.Sleep(kPauseMs);
    }
    return false;
}
