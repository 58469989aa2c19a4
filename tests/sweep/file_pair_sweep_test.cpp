// Every Windows call of a file comparison fails once, one run per call, and the program still
// behaves: it ends, with one of its exit codes, says what went wrong, changes no file and leaks
// nothing it would otherwise have released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "support/fake_console.h"
#include "support/fault_injector.h"
#include "support/run_reset.h"
#include "support/temp_folder.h"

namespace fc = fake_console;

namespace {

std::string errText;

BOOL WINAPI CaptureErr(HANDLE, const void* text, DWORD count, LPDWORD written, LPVOID) {
    errText.append(static_cast<const char*>(text), count);
    if (written) *written = count;
    return TRUE;
}

DWORD clockMs = 0;
DWORD WINAPI Clock() { return clockMs += 40; }

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
    int64_t handles;
    int64_t blocks;
};

class Sweep : public FakeConsoleTest {
protected:
    // One whole run on a fresh fake console with the injector on top; `failAt` is the position
    // of the call that fails, or SIZE_MAX to record the calls of an unfaulted run.
    RunResult Run(const std::vector<std::wstring>& arguments, size_t failAt) {
        ResetRunState();
        RestoreWinApi();
        Restart();
        win.WriteConsoleA = &CaptureErr;
        win.GetTickCount = &Clock;
        fault::Install();
        if (failAt == SIZE_MAX) {
            fault::Record();
        } else {
            fault::Arm(failAt);
        }
        // Every prompt a failure brings is answered by a Y pressed while it waits.
        for (uint32_t at = 700; at < 120000; at += 700) fc::ScriptPress(at, 'Y');
        errText.clear();
        clockMs = 0;
        std::vector<std::wstring> args = {L"qvb.exe", L"-n"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<wchar_t*> vector;
        for (std::wstring& a : args) vector.push_back(a.data());
        vector.push_back(nullptr);
        RunResult r;
        r.exitCode = RunMainSequence(static_cast<int>(args.size()), vector.data());
        r.handles = fault::OpenHandles();
        r.blocks = fault::OpenBlocks();
        r.out = fc::Output();
        r.err = errText;
        ResetRunState();
        return r;
    }
};

TEST_F(Sweep, EveryCallOfAFilePairFailsOnce) {
    TempFolder folder;
    std::string data(3 * 1048576 + 1000, 'q');
    std::string other = data;
    for (size_t at : {size_t{17}, size_t{1048576}, size_t{3 * 1048576 + 999}}) other[at] = 'x';
    std::wstring a = folder.Write(L"a.bin", data), b = folder.Write(L"b.bin", other);
    const std::vector<std::wstring> args = {a, b};

    RunResult baseline = Run(args, SIZE_MAX);
    ASSERT_EQ(baseline.exitCode, 1);
    // A run that ends through its clean-up leaves nothing open.
    EXPECT_EQ(baseline.handles, 0);
    EXPECT_EQ(baseline.blocks, 0);
    const std::vector<int> calls = fault::Calls();
    ASSERT_GT(calls.size(), 50u);
    size_t failuresReported = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        RunResult r = Run(args, i);
        SCOPED_TRACE(testing::Message() << "call " << i << ": " << fault::EntryName(calls[i]) << " failing with "
                                        << fault::EntryError(calls[i]));
        EXPECT_GE(r.exitCode, 0);
        EXPECT_LE(r.exitCode, 12);
        EXPECT_FALSE(fc::DeadlineHit());
        if (r.exitCode != baseline.exitCode) {
            // An outcome that changed must be explained: some text the unfaulted run did not show.
            EXPECT_TRUE(r.out != baseline.out || r.err != baseline.err);
            ++failuresReported;
        }
        if (r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 11) {
            int allowance = fault::IsRelease(calls[i]) ? 1 : 0;
            EXPECT_LE(r.handles, baseline.handles + allowance);
            EXPECT_LE(r.blocks, baseline.blocks + allowance);
        }
        EXPECT_EQ(ReadWholeFile(a), data);
        EXPECT_EQ(ReadWholeFile(b), other);
        if (HasFailure()) break;
    }
    RecordProperty("runs", static_cast<int>(calls.size()));
    printf("sweep: %zu calls failed one at a time, %zu of them changed the exit code\n", calls.size(),
           failuresReported);
}

}  // namespace
