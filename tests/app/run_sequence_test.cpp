// Exit codes that the real system under Wine never produces, from whole runs in this process with
// one call answered through the seam.
#include "app/run_sequence.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

#include "console/control_handler.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "support/seam.h"
#include "support/temp_folder.h"

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome RunWith(std::vector<std::wstring> args) {
    ResetRunState(&TestRun());
    args.insert(args.begin(), L"qvb.exe");
    std::vector<wchar_t*> vector;
    for (std::wstring& a : args) vector.push_back(a.data());
    vector.push_back(nullptr);
    OutputCapture capture(false, false);
    Outcome o;
    o.code = RunMainSequence(&TestRun(), static_cast<int>(args.size()), vector.data());
    o.out = capture.streams.outBytes;
    o.err = capture.streams.errBytes;
    ResetRunState(&TestRun());
    return o;
}

class RunSequence : public SeamTest {
protected:
    TempFolder folder;
    std::wstring a = folder.Write(L"a", "same"), b = folder.Write(L"b", "same");
};

TEST_F(RunSequence, AVolumeThatCannotBeAskedEndsTheRun) {
    static int calls;
    struct Case {
        int failingCall;
        int code;
        const char* message;
    } cases[] = {
        {1, 6, "invalid source1: GetVolumeInformation("},
        {2, 7, "invalid source2: GetVolumeInformation("},
    };
    for (const Case& c : cases) {
        calls = 0;
        static int failing;
        failing = c.failingCall;
        SeamOverride volume(
            win.GetVolumeInformationW,
            +[](LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial, LPDWORD maxComponent, LPDWORD flags,
                LPWSTR fs, DWORD fsSize) -> BOOL {
                // Only the hard-link test asks for the file-system name in 32 characters.
                if (fsSize == 32 && ++calls == failing) {
                    ::SetLastError(ERROR_NOT_READY);
                    return FALSE;
                }
                return ::GetVolumeInformationW(root, name, nameSize, serial, maxComponent, flags, fs, fsSize);
            });
        // Where the volume is asked through a handle, the classic call answers only when that
        // fails; here the system lacks the handle call.
        SeamOverride lookup(
            win.GetProcAddress, +[](HMODULE module, LPCSTR name) -> FARPROC {
                if (strcmp(name, "GetVolumeInformationByHandleW") == 0) return nullptr;
                return ::GetProcAddress(module, name);
            });
        Outcome o = RunWith({L"-q", a, b});
        EXPECT_EQ(o.code, c.code);
        EXPECT_NE(o.out.find(c.message), std::string::npos) << o.out;
        EXPECT_NE(o.out.find("err=NOT_READY -> abort\r\n"), std::string::npos) << o.out;
    }
}

TEST_F(RunSequence, BuffersThatCannotBeReservedEndTheRunWithItsOwnCode) {
    SeamOverride reserve(
        win.VirtualAlloc, +[](LPVOID, SIZE_T, DWORD, DWORD) -> LPVOID {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        });
    Outcome o = RunWith({L"-q", a, b});
    EXPECT_EQ(o.code, 12);
    // A 4-byte file needs one 512-byte sector; the error has no word of its own.
    EXPECT_EQ(o.err, "cannot reserve 513 bytes for the compare buffers (8) -> abort\n");
}

TEST_F(RunSequence, TheCurrentFolderCannotBeRead) {
    SeamOverride current(
        win.GetCurrentDirectoryW, +[](DWORD, LPWSTR) -> DWORD {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        });
    Outcome o = RunWith({a, b});
    EXPECT_EQ(o.code, 4);
    EXPECT_EQ(o.out, "Error ACCESS_DENIED determining current folder -> abort\r\n");
}

TEST_F(RunSequence, AControlEventAfterTheWorkKeepsTheExitCode) {
    // Ctrl+C at the closing prompt: what was compared decides, not the key.
    SeamOverride closing(
        win.SetThreadExecutionState, +[](EXECUTION_STATE state) -> EXECUTION_STATE {
            if (state == ES_CONTINUOUS) AbortFlag.store(1);  // the run's last call
            return ::SetThreadExecutionState(state);
        });
    Outcome o = RunWith({L"-q", a, b});
    EXPECT_EQ(o.code, 0) << o.out << o.err;
    AbortFlag.store(0);
}

}  // namespace
