// The tree walk, the tree-2 listing and the link handling on real folders, with what Wine cannot
// show (reparse points, the Pause key, long paths, an interrupt) simulated at the seam.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/workers.h"
#include "console/control_handler.h"
#include "support/fault_injector.h"
#include "support/machine_scenario.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "support/seam.h"
#include "support/temp_folder.h"
#include "support/tree_walk_run.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/pairs_in_flight.h"
#include "tree/result_list.h"
#include "tree/tree_strings.h"
#include "tree/tree_walk.h"

namespace {

void MakeFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

void RemoveAll(const std::wstring& folder) {
    WIN32_FIND_DATAW e;
    HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &e);
    if (f != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = e.cFileName, full = folder + L"\\" + n;
            if (n == L"." || n == L"..") continue;
            if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveAll(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(f, &e));
        FindClose(f);
    }
    RemoveDirectoryW(folder.c_str());
}

// A second tree on drive Z:, so that the two trees lie on different drive letters.
struct ZFolder {
    std::wstring path;
    ZFolder() {
        static int serial = 0;
        path = L"Z:\\tmp\\qvbwalk-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
        MakeFolder(path);
    }
    ~ZFolder() { RemoveAll(path); }
    std::wstring Write(const std::wstring& name, const std::string& bytes) const {
        std::wstring full = path + L"\\" + name;
        HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD w;
        if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &w, nullptr);
        CloseHandle(h);
        return full;
    }
};

class TreeWalk : public SeamTest {
protected:
    void SetUp() override { Options.recurse = true; }
    PairSetup setup;
    TempFolder t1, t2;
};

TEST_F(TreeWalk, PairsFilesOfTreeOneOnly) {
    t1.Write(L"same", "abc");
    t2.Write(L"same", "abc");
    t1.Write(L"diff", "abc");
    t2.Write(L"diff", "abd");
    t1.Write(L"gone", "x");
    t2.Write(L"extra", "x");
    MakeFolder(t1.File(L"Sub"));
    MakeFolder(t2.File(L"sUB"));
    t1.Write(L"Sub\\in", "1");
    t2.Write(L"sUB\\in", "1");
    MakeFolder(t1.File(L"lonely"));
    t1.Write(L"lonely\\f", "1");
    WalkResult r = Walk(t1.path(), t2.path());
    EXPECT_EQ(r.count, 4u);
    EXPECT_EQ(TestRun().counts.ResultCounters[Identical], 2u);
    EXPECT_EQ(TestRun().counts.ResultCounters[Different], 1u);
    EXPECT_EQ(TestRun().counts.ResultCounters[Missing], 1u);
    EXPECT_NE(r.out.find("Comparing Sub\\in with Sub\\in\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("processing folder: Sub\n"), std::string::npos);
    std::string notFound = "folder2 not found: \\\\?\\";
    for (wchar_t c : t2.path()) notFound += static_cast<char>(c);
    EXPECT_NE(r.out.find(notFound + "\\lonely\\\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("extra"), std::string::npos);
}

TEST_F(TreeWalk, MasksRecursionAndQuiet) {
    struct Row {
        const wchar_t* mask;
        bool recurse;
        bool quiet;
        uint32_t count;
        bool showsFolder;
    };
    t1.Write(L"a.txt", "1");
    t2.Write(L"a.txt", "1");
    t1.Write(L"b.bin", "1");
    MakeFolder(t1.File(L"d"));
    MakeFolder(t2.File(L"d"));
    t1.Write(L"d\\c.TXT", "1");
    t2.Write(L"d\\c.TXT", "1");
    const Row rows[] = {
        {L"*.txt", true, false, 2, true},
        {L"*.txt", false, false, 1, false},
        {L"*", true, true, 3, false},
    };
    for (const Row& row : rows) {
        Options.recurse = row.recurse;
        Options.quiet = row.quiet;
        WalkResult r = Walk(t1.path(), t2.path(), row.mask);
        EXPECT_EQ(r.count, row.count);
        EXPECT_EQ(r.out.find("processing folder: d") != std::string::npos, row.showsFolder) << r.out;
        EXPECT_EQ(r.out.find("b.bin") != std::string::npos, false);
        EXPECT_EQ(r.out.empty(), row.quiet ? true : false);
    }
}

TEST_F(TreeWalk, ExcludedNamesAndTheEmptyFolder) {
    EXPECT_EQ(Walk(t1.path(), t2.path()).count, 0u);
    t1.Write(L"keep", "1");
    t2.Write(L"keep", "1");
    t1.Write(L"x.TMP", "1");
    MakeFolder(t1.File(L"cache.tmp"));
    t1.Write(L"cache.tmp\\f", "1");
    static wchar_t mask[] = L"*.tmp";
    ExcludeMasks[0] = mask;
    WalkResult r = Walk(t1.path(), t2.path());
    ExcludeMasks[0] = nullptr;
    EXPECT_EQ(r.count, 1u);
    EXPECT_NE(r.out.find("x.TMP\r\n skipped by exclude list\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cache.tmp\r\n skipped by exclude list\r\n"), std::string::npos);
    EXPECT_EQ(r.out.find("folder2 not found"), std::string::npos);
}

// NTFS allows a name with an unpaired surrogate, which Wine cannot make. In UTF-8 it would become
// a replacement character and name another file: the list ends before its line.
TEST_F(TreeWalk, ANameTheResultListCannotHoldEndsIt) {
    ASSERT_TRUE(OpenResultList(&TestRun(), t2.File(L"list").c_str()));
    OutputCapture capture(false, false);
    WriteResult(&TestRun(), '-', L"odd\xD800");
    CloseResultList(&TestRun());
    EXPECT_EQ(capture.streams.errBytes, "error 1113 writing the result file: the list is incomplete\n");
    EXPECT_EQ(ReadWholeFile(t2.File(L"list")), "");
}

// What one identical small pair of a folder run asks of the system, counted at the seam: the
// difference between a folder of 20 pairs and one of 10, so the walk's fixed cost drops out.
TEST_F(TreeWalk, SeamCallsPerSmallIdenticalPair) {
    Options.quiet = true;
    // As an unattended run: output to a file, no console window.
    setup.session.outputHandle = OutputCapture::kOut;
    setup.session.noConsoleWindow = true;
    std::map<std::string, int> perPair;
    int total[2] = {};
    for (int round = 0; round < 2; ++round) {
        int files = round == 0 ? 10 : 20;
        for (int i = 0; i < files; ++i) {
            std::string data(4096, static_cast<char>('a' + i % 26));
            t1.Write(L"f" + std::to_wstring(i), data);
            t2.Write(L"f" + std::to_wstring(i), data);
        }
        fault::Install();
        fault::Record();
        WalkResult r = Walk(t1.path(), t2.path());
        EXPECT_EQ(r.count, static_cast<uint32_t>(files));
        total[round] = static_cast<int>(fault::Calls().size());
        for (int id : fault::Calls()) perPair[fault::EntryName(id)] += round == 0 ? -1 : 1;
        RestoreWinApi();
    }
    std::string shown;
    for (const auto& [name, count] : perPair) {
        if (count != 0) shown += name + " " + std::to_string(count / 10.0).substr(0, 4) + "\n";
    }
    int calls = (total[1] - total[0]) / 10;
    // Two opens, two sizes, two reads, two closes and a step of each folder enumeration.
    EXPECT_LE(calls, 10) << shown;
    printf("seam calls per identical 4 KiB pair: %d\n%s", calls, shown.c_str());
}

// Pairs in flight change nothing a run shows: the same bytes on both streams, the same counts,
// with workers and with one pair at a time, over a tree of every kind of pair.
TEST_F(TreeWalk, PairsInFlightChangeNoByte) {
    const size_t sizes[] = {0, 1, 511, 4096, 5000, 65535, 65536, 65537, 200000, 2621440};
    for (int i = 0; i < 40; ++i) {
        std::string data(sizes[i % std::size(sizes)], static_cast<char>('a' + i % 26));
        std::wstring name = L"f" + std::to_wstring(i);
        t1.Write(name, data);
        if (i % 7 == 3) continue;  // missing in tree 2
        if (i % 11 == 5 && !data.empty()) data[data.size() / 2] ^= 1;
        if (i % 13 == 6) data += "longer";
        t2.Write(name, data);
    }
    // Past a first long turn, which the page cache delivers at memory speed.
    std::string big(17 * 1048576 + 100, 'q');
    t1.Write(L"big", big);
    big[16 * 1048576 + 7] = 'Q';
    t2.Write(L"big", big);
    MakeFolder(t1.File(L"sub"));
    MakeFolder(t2.File(L"sub"));
    MakeFolder(t1.File(L"only1"));
    t1.Write(L"only1\\x", "x");
    for (int i = 0; i < 10; ++i) {
        t1.Write(L"sub\\g" + std::to_wstring(i), std::string(3000, static_cast<char>('0' + i)));
        t2.Write(L"sub\\g" + std::to_wstring(i), std::string(3000, static_cast<char>(i == 4 ? 'z' : '0' + i)));
    }
    // Positional reads come only from the read-ahead.
    static std::atomic<int> readsAhead;
    SeamOverride reads(
        win.ReadFile, +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            if (o) ++readsAhead;
            return SeamBase().ReadFile(h, buffer, length, got, o);
        });
    for (bool ignoreSizes : {false, true}) {
        Options.ignoreSizes = ignoreSizes;
        readsAhead = 0;
        // One pair at a time; pairs in flight; as on a share, many in flight and blocks read ahead;
        // one pair at a time in long turns, as on one drive.
        WalkResult r[4];
        uint32_t counters[4][5];
        SlowClock slow;
        for (int mode = 0; mode < 4; ++mode) {
            TestRun().setup.Pool = mode == 1 || mode == 2 ? StartPairPool(mode == 1 ? 2 : 12) : nullptr;
            TestRun().setup.NetworkSide = mode == 2;
            TestRun().setup.LongTurns = mode == 3;
            if (mode == 1 || mode == 2) {
                ASSERT_NE(TestRun().setup.Pool, nullptr);
            }
            r[mode] = Walk(t1.path(), t2.path());
            StopPairPool(TestRun().setup.Pool);
            TestRun().setup.Pool = nullptr;
            memcpy(counters[mode], TestRun().counts.ResultCounters, sizeof counters[mode]);
        }
        TestRun().setup.NetworkSide = TestRun().setup.LongTurns = false;
        for (int mode = 1; mode < 4; ++mode) {
            EXPECT_EQ(r[0].out, r[mode].out) << ignoreSizes << mode;
            EXPECT_EQ(r[0].err, r[mode].err) << ignoreSizes << mode;
            EXPECT_EQ(r[0].count, r[mode].count);
            EXPECT_EQ(memcmp(counters[0], counters[mode], sizeof counters[0]), 0);
        }
        EXPECT_EQ(counters[1][Identical] + counters[1][Different] + counters[1][Missing], r[1].count);
        EXPECT_GE(counters[1][Different], 4u);
        EXPECT_NE(r[2].out.find("01000007: 71 51"), std::string::npos) << r[2].out.substr(0, 2000);
        EXPECT_GE(readsAhead.load(), 2 * 4 * 3);  // four pairs of three blocks or more, both sides
    }
}

TEST_F(TreeWalk, WorkersForTheMedium) {
    // A share wants many pairs in flight whatever the processors; a local tree one per processor;
    // a drive that seeks none, whichever tree it holds; a range that does not start at 0 none.
    MachineScenario m;
    m.Disk(0).Disk(1).Disk(2);
    m.DiskDevice(0).seekPenalty = false;
    m.DiskDevice(1).seekPenalty = true;
    m.Volume(L"C:\\", 0);
    m.Volume(L"E:\\", 1);
    m.Volume(L"F:\\", 2);  // tells nothing of its seek penalty, as under Wine
    m.Network(L'N', L"\\\\server\\share");
    MachineGuard guard(m);
    SeamOverride processors(
        win.GetSystemInfo, +[](LPSYSTEM_INFO info) { info->dwNumberOfProcessors = 2; });
    RunState& run = TestRun();
    struct {
        const wchar_t* root1;
        const wchar_t* root2;
        bool twoDrives;
        uint64_t start;
        uint32_t workers;
    } rows[] = {
        {L"C:\\", L"N:\\", true, 0, 12},   {L"C:\\", L"F:\\", true, 0, 2}, {L"C:\\", L"C:\\", false, 0, 2},
        {L"C:\\", L"E:\\", true, 0, 0},    {L"E:\\", L"C:\\", true, 0, 0}, {L"E:\\", L"E:\\", false, 0, 0},
        {L"C:\\", L"N:\\", true, 4096, 0},
    };
    for (const auto& row : rows) {
        wcscpy(run.paths.volumeRoot1, row.root1);
        wcscpy(run.paths.volumeRoot2, row.root2);
        run.setup.ParallelReads = row.twoDrives;
        run.setup.StartOffset = row.start;
        EXPECT_EQ(PairWorkersFor(run), row.workers) << &row - rows;
    }
    run.setup.StartOffset = 0;
    run.paths.volumeRoot1[0] = run.paths.volumeRoot2[0] = 0;
}

TEST_F(TreeWalk, PausesOnlyAfterComparedPairs) {
    static int pauseQueries;
    pauseQueries = 0;
    SeamOverride w(
        win.GetConsoleWindow, +[]() -> HWND { return reinterpret_cast<HWND>(0x77); });
    SeamOverride f(
        win.GetForegroundWindow, +[]() -> HWND { return reinterpret_cast<HWND>(0x77); });
    SeamOverride k(
        win.GetAsyncKeyState, +[](int key) -> SHORT {
            if (key == VK_PAUSE) ++pauseQueries;
            return 0;
        });
    t1.Write(L"a", "1");
    t2.Write(L"a", "1");
    t1.Write(L"b", "1");
    MakeFolder(t1.File(L"d"));
    MakeFolder(t2.File(L"d"));
    EXPECT_EQ(Walk(t1.path(), t2.path()).count, 2u);
    EXPECT_EQ(pauseQueries, 2);
}

// A listing held in a call that returns only after a stop is given up within about a second; when
// the call returns, its thread writes into memory of its own, which nobody freed, not into the
// stack where the walk's frames were. Held are the tree-2 names, tree 1's first entry, or a later
// batch of tree-1 entries.
__attribute__((noinline)) bool StackStaysAsLeftWhile(void (*release)()) {
    volatile uint8_t area[256 * 1024];
    for (uint8_t& byte : const_cast<uint8_t(&)[sizeof area]>(area)) byte = 0xAB;
    release();
    for (uint8_t byte : area) {
        if (byte != 0xAB) return false;
    }
    return true;
}

TEST_F(TreeWalk, AListingGivenUpAfterAStopWritesIntoNoFrame) {
    t1.Write(L"a", "1");
    t2.Write(L"a", "1");
    t2.Write(L"b", "2");
    enum Held { kTree2Names, kTree1First, kTree1Batch };
    static Held held;
    static HANDLE go, heldThread, tree1Find;
    static void* heldAt;
    static bool heldAtFreed;
    go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static void (*hold)(void*) = [](void* at) {
        heldAt = at;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &heldThread, SYNCHRONIZE, FALSE,
                        0);
        InterruptFlag.store(1);
        WaitForSingleObject(go, 10000);
    };
    SeamOverride first(
        win.FindFirstFileW, +[](LPCWSTR p, LPWIN32_FIND_DATAW d) -> HANDLE {
            if (held == kTree1First) hold(d);
            return tree1Find = SeamBase().FindFirstFileW(p, d);
        });
    SeamOverride next(
        win.FindNextFileW, +[](HANDLE h, LPWIN32_FIND_DATAW d) -> BOOL {
            if ((held == kTree2Names && h != tree1Find) || (held == kTree1Batch && h == tree1Find)) hold(d);
            return SeamBase().FindNextFileW(h, d);
        });
    SeamOverride free(
        win.HeapFree, +[](HANDLE heap, DWORD flags, LPVOID block) -> BOOL {
            auto* begin = static_cast<uint8_t*>(block);
            if (block && heldAt && begin <= heldAt && heldAt < begin + HeapSize(heap, 0, block)) heldAtFreed = true;
            return SeamBase().HeapFree(heap, flags, block);
        });
    for (Held row : {kTree2Names, kTree1First, kTree1Batch}) {
        held = row;
        heldAt = nullptr;
        heldAtFreed = false;
        tree1Find = INVALID_HANDLE_VALUE;
        ResetEvent(go);
        const DWORD began = GetTickCount();
        EXPECT_EQ(Walk(t1.path(), t2.path()).count, 0u) << row;
        EXPECT_LT(GetTickCount() - began, 3000u) << row;
        EXPECT_TRUE(StackStaysAsLeftWhile(+[] {
            SetEvent(go);
            WaitForSingleObject(heldThread, 10000);
        })) << row;
        EXPECT_FALSE(heldAtFreed) << row;
        CloseHandle(heldThread);
        // The search a given-up tree-1 lister holds stays open in the program; the test closes it.
        if (row != kTree2Names) win.FindClose(tree1Find);
        InterruptFlag.store(0);
    }
    CloseHandle(go);
}

TEST_F(TreeWalk, PathTooLongStopsTheWalk) {
    SeamOverride first(
        win.FindFirstFileW, +[](LPCWSTR, LPWIN32_FIND_DATAW d) -> HANDLE {
            memset(d, 0, sizeof *d);
            wcscpy(d->cFileName, L"a-name-of-12");
            return reinterpret_cast<HANDLE>(0x99);
        });
    SeamOverride next(
        win.FindNextFileW, +[](HANDLE, LPWIN32_FIND_DATAW) -> BOOL { return FALSE; });
    SeamOverride close(
        win.FindClose, +[](HANDLE h) -> BOOL { return h == reinterpret_cast<HANDLE>(0x99) || SeamBase().FindClose(h); });
    static PathBuffer folder1, folder2;
    std::wstring longFolder = L"\\\\?\\Z:\\" + std::wstring(32755, L'a') + L"\\";
    wcscpy(folder1, longFolder.c_str());
    wcscpy(folder2, (L"\\\\?\\" + t2.path() + L"\\").c_str());
    OutputCapture capture(false, false);
    EXPECT_EQ(CompareFolderTree(&TestRun(), folder1, L"*", folder2, 0), 0u);
    EXPECT_EQ(capture.streams.errBytes, "path too long (max 32768) -> abort\n");
    EXPECT_EQ(AbortFlag.load(), 1);
    EXPECT_TRUE(TestRun().NoMoreRecursion);
}

// A real tree 1026 levels deep takes minutes under Wine; entering at depth 1024 is the same case.
TEST_F(TreeWalk, NestedTooDeepStopsTheWalk) {
    MakeFolder(t1.File(L"d"));
    MakeFolder(t2.File(L"d"));
    t1.Write(L"d\\f", "1");
    t2.Write(L"d\\f", "1");
    static PathBuffer folder1, folder2;
    wcscpy(folder1, (L"\\\\?\\" + t1.path()).c_str());
    wcscpy(folder2, (L"\\\\?\\" + t2.path()).c_str());
    wcscpy(TestRun().BaseFolder1, (L"\\\\?\\" + t1.path() + L"\\").c_str());
    OutputCapture capture(false, false);
    EXPECT_EQ(CompareFolderTree(&TestRun(), folder1, L"*", folder2, kMaxTreeDepth), 0u);
    EXPECT_EQ(capture.streams.outBytes, "processing folder: d\npath nested too deep (max 1024) -> abort\r\n");
    EXPECT_EQ(AbortFlag.load(), 1);
}

// What could not be listed never passes for compared: a tree-1 folder that does not open or
// stops early is unreadable; a tree-2 listing that fails is checked folder by folder.
TEST_F(TreeWalk, FoldersThatCannotBeListedAreCounted) {
    enum Fault { kNone, kTree1Open, kTree1Midway, kTree2Listing };
    static Fault fault;
    static HANDLE tree1Find;
    static int nextCalls;
    struct {
        Fault fault;
        bool dropSubFolder2;
        uint32_t count, missing, unreadable;
        bool bothWays = false;  // -b: a tree-2 folder not listed to its end proves nothing only it holds
    } rows[] = {
        {kNone, false, 2, 0, 0},         {kNone, true, 1, 1, 0},
        {kTree1Open, false, 0, 0, 1},    {kTree1Midway, false, 1, 0, 1},
        {kTree2Listing, false, 2, 0, 0}, {kTree2Listing, true, 1, 1, 0},
        {kNone, false, 2, 0, 0, true},   {kTree2Listing, false, 2, 0, 2, true},
    };
    SeamOverride first(
        win.FindFirstFileW, +[](LPCWSTR pattern, LPWIN32_FIND_DATAW d) -> HANDLE {
            if (fault == kTree1Open) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            return tree1Find = ::FindFirstFileW(pattern, d);
        });
    SeamOverride firstEx(
        win.FindFirstFileExW,
        +[](LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID d, FINDEX_SEARCH_OPS op, LPVOID filter,
            DWORD flags) -> HANDLE {
            if (fault == kTree2Listing) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            return ::FindFirstFileExW(pattern, level, d, op, filter, flags);
        });
    SeamOverride next(
        win.FindNextFileW, +[](HANDLE h, LPWIN32_FIND_DATAW d) -> BOOL {
            if (fault == kTree1Midway && h == tree1Find && ++nextCalls > 2) {
                SetLastError(ERROR_IO_DEVICE);
                return FALSE;
            }
            return ::FindNextFileW(h, d);
        });
    for (const auto& row : rows) {
        TempFolder a, b;
        a.Write(L"f", "1");
        b.Write(L"f", "1");
        MakeFolder(a.File(L"sub"));
        a.Write(L"sub\\g", "1");
        if (!row.dropSubFolder2) {
            MakeFolder(b.File(L"sub"));
            b.Write(L"sub\\g", "1");
        }
        fault = row.fault;
        nextCalls = 0;
        Options.bothWays = row.bothWays;
        WalkResult r = Walk(a.path(), b.path());
        Options.bothWays = false;
        fault = kNone;
        int line = static_cast<int>(&row - rows);
        EXPECT_EQ(r.count, row.count) << line << r.out;
        EXPECT_EQ(TestRun().counts.FoldersMissing, row.missing) << line << r.out;
        EXPECT_EQ(TestRun().counts.FoldersUnreadable, row.unreadable) << line << r.out;
    }
}

TEST(FolderListing, MaskFoldersCaseAndInterruption) {
    TempFolder t;
    t.Write(L"a.txt", "1");
    t.Write(L"b.bin", "1");
    MakeFolder(t.File(L"Dir.bin"));
    FolderListing listing;
    CallWorker* lister = nullptr;
    ASSERT_TRUE(StartFolderListing(&listing, t.path().c_str(), L"*.txt", &lister));
    ASSERT_TRUE(AwaitCall(&lister, StopRequested));
    StopCallWorker(&lister, StopRequested);
    EXPECT_EQ(listing.count, 2u);
    EXPECT_NE(FindListingEntry(&listing, L"A.TXT"), nullptr);
    EXPECT_NE(FindListingEntry(&listing, L"dir.BIN"), nullptr);
    EXPECT_EQ(FindListingEntry(&listing, L"b.bin"), nullptr);
    FreeFolderListing(&listing);

    StartFolderListing(&listing, (t.path() + L"\\missing").c_str(), L"*", nullptr);
    EXPECT_EQ(listing.count, 0u);
    FreeFolderListing(&listing);

    // An interrupt keeps the names read so far.
    static int nextCalls;
    nextCalls = 0;
    SeamOverride next(
        win.FindNextFileW, +[](HANDLE h, LPWIN32_FIND_DATAW d) -> BOOL {
            if (++nextCalls > 2) InterruptFlag.store(1);
            return ::FindNextFileW(h, d);
        });
    StartFolderListing(&listing, t.path().c_str(), L"*", nullptr);
    InterruptFlag.store(0);
    EXPECT_GE(listing.count, 1u);
    EXPECT_LT(listing.count, 3u);
    FreeFolderListing(&listing);
    RestoreWinApi();
}

TEST(FolderListing, LookupsInALargeFolderKeepTheFirstMatch) {
    // Names that differ in case, in and beyond ASCII, and a folder large enough that a scan per
    // lookup would show.
    const wchar_t* const fixed[] = {L"Report", L"REPORT", L"\u00c4rger", L"\u00e4rger", L"x"};
    constexpr uint32_t kMany = 200000;
    FolderListing listing = {};
    for (const wchar_t* name : fixed) AddListingName(&listing, name);
    for (uint32_t i = 0; i < kMany; ++i) AddListingName(&listing, std::to_wstring(i).c_str());
    IndexListingNames(&listing);
    ASSERT_GE(listing.slotCount, listing.count);
    struct {
        const wchar_t* name;
        int place;  // -1 for none
    } rows[] = {
        {L"report", 0},     {L"REPORT", 0}, {L"\u00e4RGER", 2},
        {L"\u00c4rger", 2}, {L"X", 4},      {L"199999", static_cast<int>(std::size(fixed)) + 199999},
        {L"200000", -1},    {L"repor", -1}, {L"", -1},
    };
    for (const auto& row : rows) {
        const wchar_t* found = FindListingEntry(&listing, row.name);
        EXPECT_EQ(found, row.place < 0 ? nullptr : listing.names[row.place])
            << std::wstring(row.name).size() << " " << (row.place);
    }
    uint32_t misses = 0;
    for (uint32_t i = 0; i < kMany; ++i) {
        if (FindListingEntry(&listing, std::to_wstring(i).c_str()) != listing.names[std::size(fixed) + i]) ++misses;
    }
    EXPECT_EQ(misses, 0u);
    FreeFolderListing(&listing);
}

}  // namespace
