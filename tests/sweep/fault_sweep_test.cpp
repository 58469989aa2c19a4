// Every Windows call of a run fails once, one run per call, and the program still behaves: the
// run ends with one of its exit codes, a failure that changes the outcome is reported, no file of
// tree 2 changes but for the links the run reproduces, and nothing is left open that the run would
// otherwise have released. The runs: a file pair of a few blocks with progress on a simulated
// console, a folder run with a sub-folder, a missing file, a differing file and two links, and the
// disk and volume listings of a simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "support/fake_console.h"
#include "support/fake_links.h"
#include "support/fault_injector.h"
#include "support/machine_scenario.h"
#include "support/pair_setup.h"
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
    // Fakes of a scenario, put into the seam below the injector for every run.
    virtual void InstallScenario() {}
    // After each run: what must hold of the files; a test removes there what a run may create.
    virtual void CheckFiles() {}

    // One whole run on a fresh fake console with the injector on top; `failAt` is the position
    // of the call that fails, or SIZE_MAX to record the calls of an unfaulted run.
    RunResult Run(const std::vector<std::wstring>& arguments, size_t failAt) {
        ResetRunState(&TestRun());
        RestoreWinApi();
        Restart();
        win.WriteConsoleA = &CaptureErr;
        win.GetTickCount = &Clock;
        InstallScenario();
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
        r.exitCode = RunMainSequence(&TestRun(), static_cast<int>(args.size()), vector.data());
        r.handles = fault::OpenHandles();
        r.blocks = fault::OpenBlocks();
        r.out = fc::Output();
        r.err = errText;
        ResetRunState(&TestRun());
        RestoreWinApi();
        return r;
    }

    // Records the calls of an unfaulted run, then fails each of them once. Returns the run count.
    // `keptBlocks`: what the unfaulted run leaves allocated; a listing ends the process at once and
    // keeps its console session.
    // `unverifiedBy`: entries whose failure leaves bytes or entries unread, unless the output shows
    // the given recovery, so that the run must not end with 0 (where the unfaulted run does).
    size_t SweepAllCalls(const std::vector<std::wstring>& args, int baselineExit, int64_t keptBlocks = 0,
                         const std::vector<std::pair<std::string, std::string>>& unverifiedBy = {}) {
        RunResult baseline = Run(args, SIZE_MAX);
        EXPECT_EQ(baseline.exitCode, baselineExit);
        EXPECT_EQ(baseline.handles, 0);
        EXPECT_EQ(baseline.blocks, keptBlocks);
        CheckFiles();
        const std::vector<int> calls = fault::Calls();
        EXPECT_GT(calls.size(), 20u);
        size_t changed = 0;
        for (size_t i = 0; i < calls.size() && !HasFailure(); ++i) {
            RunResult r = Run(args, i);
            const int failed = fault::FailedEntry();
            SCOPED_TRACE(testing::Message() << "call " << i << ": " << fault::EntryName(failed) << " failing with "
                                            << fault::EntryError(failed));
            EXPECT_GE(r.exitCode, 0);
            EXPECT_LE(r.exitCode, 12);
            EXPECT_FALSE(fc::DeadlineHit());
            for (const auto& [name, recovered] : unverifiedBy) {
                if (failed < 0 || name != fault::EntryName(failed)) continue;
                // A pair that a worker could not read is read again from the start by the walk:
                // the call was made once more than in the unfaulted run, and nothing stayed unread.
                bool redone = std::count(fault::Calls().begin(), fault::Calls().end(), failed) >
                                  std::count(calls.begin(), calls.end(), failed) &&
                              r.out.find(" failed") == std::string::npos &&
                              r.out.find("not read in file") == std::string::npos;
                if ((recovered.empty() || r.out.find(recovered) == std::string::npos) && !redone) {
                    EXPECT_NE(r.exitCode, 0) << r.out << r.err;
                }
            }
            if (r.exitCode != baseline.exitCode) {
                // An outcome that changed must be explained: some text the unfaulted run did not show.
                EXPECT_TRUE(r.out != baseline.out || r.err != baseline.err);
                ++changed;
            }
            if (r.exitCode == baseline.exitCode || r.exitCode == 1 || r.exitCode == 11) {
                int allowance = failed >= 0 && fault::IsRelease(failed) ? 1 : 0;
                EXPECT_LE(r.handles, baseline.handles + allowance);
                EXPECT_LE(r.blocks, baseline.blocks + allowance);
            }
            CheckFiles();
        }
        printf("sweep: %zu calls failed one at a time, %zu of them changed the exit code\n", calls.size(), changed);
        return calls.size();
    }
};

class FilePairSweep : public Sweep {
protected:
    void CheckFiles() override {
        EXPECT_EQ(ReadWholeFile(a), data);
        EXPECT_EQ(ReadWholeFile(b), other);
    }
    TempFolder folder;
    std::string data = std::string(3 * 1048576 + 1000, 'q');
    std::string other = [this] {
        std::string o = data;
        for (size_t at : {size_t{17}, size_t{1048576}, size_t{3 * 1048576 + 999}}) o[at] = 'x';
        return o;
    }();
    std::wstring a = folder.Write(L"a.bin", data), b = folder.Write(L"b.bin", other);
};

TEST_F(FilePairSweep, EveryCallFailsOnce) { EXPECT_GT(SweepAllCalls({a, b}, 1), 100u); }

class FolderSweep : public Sweep {
protected:
    void SetUp() override {
        Sweep::SetUp();
        for (const std::wstring& f : {tree1, tree2, tree1 + L"\\sub", tree2 + L"\\sub", tree1 + L"\\lnkjunction"}) {
            CreateDirectoryW(f.c_str(), nullptr);
        }
        for (const auto& [name, text] : kTree2) base.Write(L"tree2\\" + name, text);
        for (const auto& [name, text] : kTree2) base.Write(L"tree1\\" + name, name == L"b.txt" ? "other" : text);
        base.Write(L"tree1\\only1.txt", "missing in tree 2");
        base.Write(L"tree1\\lnksym", "");
    }
    void InstallScenario() override {
        fake_links::Install();
        fake_links::LinkData[L"lnkjunction"] =
            fake_links::Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\" + tree1 + L"\\sub", L"");
        fake_links::LinkData[L"lnksym"] = fake_links::Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\D:\\outside", L"D:\\outside");
    }
    void CheckFiles() override {
        for (const auto& [name, text] : kTree2) EXPECT_EQ(ReadWholeFile(tree2 + L"\\" + name), text);
        // The reproduced links are taken away again, so that every run starts from the same tree.
        RemoveDirectoryW((tree2 + L"\\lnkjunction").c_str());
        DeleteFileW((tree2 + L"\\lnksym").c_str());
    }
    const std::vector<std::pair<std::wstring, std::string>> kTree2 = {
        {L"a.txt", "same"}, {L"b.txt", "tree 2"}, {L"sub\\c.txt", "below"}};
    TempFolder base;
    std::wstring tree1 = base.File(L"tree1"), tree2 = base.File(L"tree2");
};

TEST_F(FolderSweep, EveryCallFailsOnce) { EXPECT_GT(SweepAllCalls({tree1, tree2}, 1), 100u); }

// Identical trees: the run ends with 0, so a fault that leaves something unread cannot hide
// behind an unchanged exit code.
class IdenticalFolderSweep : public Sweep {
protected:
    void SetUp() override {
        Sweep::SetUp();
        for (const std::wstring& f : {tree1, tree2, tree1 + L"\\sub", tree2 + L"\\sub"}) {
            CreateDirectoryW(f.c_str(), nullptr);
        }
        for (const wchar_t* tree : {L"tree1\\", L"tree2\\"}) {
            base.Write(std::wstring(tree) + L"a.txt", "same");
            base.Write(std::wstring(tree) + L"sub\\c.txt", "below");
        }
    }
    void CheckFiles() override { EXPECT_EQ(ReadWholeFile(tree2 + L"\\sub\\c.txt"), "below"); }
    TempFolder base;
    std::wstring tree1 = base.File(L"tree1"), tree2 = base.File(L"tree2");
};

TEST_F(IdenticalFolderSweep, NoUnreadEntryPassesForVerified) {
    // A read that fails once is read again sector by sector; only when every sector came back is
    // the pair verified.
    EXPECT_GT(SweepAllCalls({tree1, tree2}, 0, 0,
                            {{"ReadFile", " sectors successfully read, 0 failed"}, {"FindFirstFileW", ""}}),
              100u);
}

class ListingSweep : public Sweep {
protected:
    void InstallScenario() override {
        machine = std::make_unique<MachineScenario>();
        machine->Disk(0, 17).Disk(1, 7);
        machine->DiskDevice(0).product = "NVMe Disk 1TB";
        machine->DiskDevice(1).vendor = "Generic-";
        machine->DiskDevice(1).product = "SD/MMC";
        FakeVolume* v = &machine->Volume(L"E:\\", 0);
        v->label = L"Data";
        v->length = 1000204886016;
        machine->Volume(L"C:\\mnt\\card\\", 1).length = 31914983424;
        machine->CdRom(L'R', 0);
        guard = std::make_unique<MachineGuard>(*machine);
    }
    void TearDown() override {
        guard.reset();
        machine.reset();
        Sweep::TearDown();
    }
    std::unique_ptr<MachineScenario> machine;
    std::unique_ptr<MachineGuard> guard;
};

TEST_F(ListingSweep, EveryCallOfTheDiskListingFailsOnce) { EXPECT_GT(SweepAllCalls({L"-ld"}, 0, 1), 30u); }
TEST_F(ListingSweep, EveryCallOfTheVolumeListingFailsOnce) { EXPECT_GT(SweepAllCalls({L"-lv"}, 0, 1), 30u); }

}  // namespace
