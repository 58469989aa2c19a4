// The harness itself: a child that does not end is killed at the timeout.
#include <gtest/gtest.h>

#include "platform/windows.h"
#include "support/process_runner.h"

namespace {

// Run only as the child of the test below.
TEST(Harness, DISABLED_ChildThatHangs) { Sleep(60000); }

TEST(Harness, ChildThatHangsIsKilledAtTheTimeout) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) +
                        L"\" --gtest_filter=Harness.DISABLED_ChildThatHangs --gtest_also_run_disabled_tests unused";
    DWORD start = GetTickCount();
    ProcessResult r = RunProcess(self, line, 500);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    EXPECT_LT(GetTickCount() - start, 20000u);
}

TEST(Harness, StreamsAreSeparateAndExactBytes) {
    ProcessResult r = RunQvb(L"a");
    EXPECT_EQ(r.out, "invalid path2\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.timedOut);
}

}  // namespace
