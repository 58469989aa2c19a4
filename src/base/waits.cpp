#include "base/waits.h"

#include "platform/win_api.h"

bool WaitForThreadEnd(HANDLE thread, bool (*stopping)()) {
    constexpr DWORD kPollMs = 50;
    constexpr int kPollsAfterStop = 20;
    // A wait on a thread of our own fails only for a moment, if at all: about ten seconds of
    // failures, and the thread counts as one that did not end.
    constexpr int kMostFailures = 1000;
    constexpr DWORD kPauseMs = 10;
    int failures = 0;
    for (int afterStop = 0; afterStop < kPollsAfterStop;) {
        DWORD result = win.WaitForSingleObject(thread, kPollMs);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_FAILED) {
            if (++failures == kMostFailures) return false;
            win.Sleep(kPauseMs);
        }
        if (stopping()) ++afterStop;
    }
    return false;
}

void SleepOnCondition(CONDITION_VARIABLE* condition, SRWLOCK* lock, DWORD ms) {
    if (win.SleepConditionVariableSRW(condition, lock, ms, 0) || win.GetLastError() == ERROR_TIMEOUT) return;
    win.ReleaseSRWLockExclusive(lock);
    win.Sleep(1);
    win.AcquireSRWLockExclusive(lock);
}
