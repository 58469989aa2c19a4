#include <gtest/gtest.h>

#include "support/seam.h"

namespace {

DWORD WINAPI FirstFake() { return 1111; }
DWORD WINAPI SecondFake() { return 2222; }

TEST(SeamOverride, NestedGuardsPutBackWhatTheyFound) {
    auto real = win.GetCurrentProcessId;
    {
        SeamOverride outer(win.GetCurrentProcessId, &FirstFake);
        EXPECT_EQ(win.GetCurrentProcessId(), 1111u);
        {
            SeamOverride inner(win.GetCurrentProcessId, &SecondFake);
            EXPECT_EQ(win.GetCurrentProcessId(), 2222u);
        }
        EXPECT_EQ(win.GetCurrentProcessId(), 1111u);
    }
    EXPECT_EQ(win.GetCurrentProcessId, real);
    EXPECT_EQ(win.GetCurrentProcessId(), ::GetCurrentProcessId());
}

TEST(SeamOverride, RestoreWinApiPutsBackEveryEntry) {
    win.GetCurrentProcessId = &FirstFake;
    win.GetLastError = +[]() -> DWORD { return 77; };
    RestoreWinApi();
    EXPECT_EQ(win.GetCurrentProcessId(), ::GetCurrentProcessId());
    ::SetLastError(5);
    EXPECT_EQ(win.GetLastError(), 5u);
}

}  // namespace
