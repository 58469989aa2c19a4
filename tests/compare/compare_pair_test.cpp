// Whole pairs on real files under Wine, with standard output and error caught at the seam.
#include "compare/compare_pair.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/memory.h"
#include "base/run_options.h"
#include "compare/file_identity.h"
#include "compare/run_resources.h"
#include "compare/sha256.h"
#include "tree/pair_sums.h"
#include "console/control_handler.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "support/seam.h"
#include "support/temp_folder.h"

namespace {

struct PairResult {
    CompareOutcome outcome;
    std::string out, err;
    uint32_t hardLinks = 0;
};

PairResult Compare(const std::wstring& a, const std::wstring& b) {
    OutputCapture capture(false, false);
    PairResult r;
    uint32_t before = TestRun().counts.HardLinks;
    r.outcome = CompareFilePair(&TestRun(), a.c_str(), b.c_str(), false);
    r.hardLinks = TestRun().counts.HardLinks - before;
    r.out = capture.streams.outBytes;
    r.err = capture.streams.errBytes;
    EXPECT_EQ(TestRun().pair.side[0].handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TestRun().pair.side[1].handle, INVALID_HANDLE_VALUE);
    return r;
}

std::string Pattern(size_t size, uint32_t salt) {
    std::string bytes(size, 0);
    for (size_t i = 0; i < size; ++i) {
        salt = salt * 1103515245 + 12345;
        bytes[i] = static_cast<char>(salt >> 16);
    }
    return bytes;
}

class ComparePair : public ::testing::Test {
protected:
    void SetUp() override {
        noSleep_ = new SeamOverride(
            win.Sleep, +[](DWORD) {});
    }
    void TearDown() override { delete noSleep_; }
    PairSetup setup{4096, 512};
    TempFolder folder;
    SeamOverride<decltype(win.Sleep)>* noSleep_ = nullptr;
};

// With -h a pair's sum is taken from side 1's blocks as they are compared, in whichever source
// brings them; a pair whose hash could not be taken whole gets no line, and the file says so.
TEST_F(ComparePair, SumsOfPairsFoundIdentical) {
    std::string data = Pattern(5 * 4096 + 100, 9);  // six blocks, the last one short
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    std::wstring sums = folder.File(L"sums");
    static bool failing;
    SeamOverride hashing(
        win.BCryptHashData, +[](BCRYPT_HASH_HANDLE h, PUCHAR bytes, ULONG count, ULONG flags) -> NTSTATUS {
            return failing ? static_cast<NTSTATUS>(0xC0000017) : SeamBase().BCryptHashData(h, bytes, count, flags);
        });
    SlowClock slow;  // long turns are taken
    Sha256 sum = {};
    uint8_t digest[32];
    char hex[65];
    ASSERT_TRUE(Sha256Start(&sum));
    ASSERT_TRUE(Sha256Add(&sum, reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size())));
    ASSERT_TRUE(Sha256Finish(&sum, digest));
    Sha256Hex(digest, hex);
    const std::string line = std::string(hex) + "  sub/a\n";
    const struct {
        bool RunSetup::*source;
        bool fail;
    } rows[] = {{nullptr, false}, {&RunSetup::LongTurns, false}, {&RunSetup::NetworkSide, false},
                {&RunSetup::ParallelReads, false}, {nullptr, true}};
    for (const auto& row : rows) {
        failing = row.fail;
        ASSERT_TRUE(OpenRunSums(&TestRun(), sums.c_str()));
        if (row.source) TestRun().setup.*row.source = true;
        EXPECT_EQ(Compare(a, b).outcome, Identical);
        {
            // The captured streams, and the sum file as it is.
            OutputCapture capture(false, false);
            static decltype(win.WriteFile) captured;
            captured = win.WriteFile;
            SeamOverride both(
                win.WriteFile, +[](HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED o) -> BOOL {
                    return h == OutputCapture::kOut || h == OutputCapture::kErr
                               ? captured(h, data, count, written, o)
                               : SeamBase().WriteFile(h, data, count, written, o);
                });
            WritePairSum(&TestRun(), Identical, L"sub\\a");
            EXPECT_EQ(capture.streams.errBytes.empty(), !row.fail) << capture.streams.errBytes;
        }
        CloseRunSums(&TestRun());
        if (row.source) TestRun().setup.*row.source = false;
        EXPECT_EQ(ReadWholeFile(sums), row.fail ? "" : line);
        EXPECT_EQ(TestRun().sums.incomplete, row.fail);
        TestRun().sums.incomplete = false;
    }
    // A check against a sum reads one side, as its own side 2, through each source.
    failing = false;
    TestRun().setup.CheckOnly = true;
    for (bool RunSetup::*source : {static_cast<bool RunSetup::*>(nullptr), &RunSetup::NetworkSide,
                                   &RunSetup::ParallelReads}) {
        for (bool right : {true, false}) {
            memcpy(TestRun().sums.expected, digest, sizeof digest);
            TestRun().sums.expected[31] ^= right ? 0 : 1;
            if (source) TestRun().setup.*source = true;
            EXPECT_EQ(Compare(a, a).outcome, right ? Identical : Different) << (source != nullptr) << right;
            if (source) TestRun().setup.*source = false;
        }
    }
    TestRun().setup.CheckOnly = false;
    ReleaseSha256();
}

TEST_F(ComparePair, IdenticalAndEmptyFiles) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{10000}}) {
        std::string data = Pattern(size, 1);
        PairResult r = Compare(folder.Write(L"a", data), folder.Write(L"b", data));
        EXPECT_EQ(r.outcome, Identical) << size;
        EXPECT_EQ(r.out, "\rFiles are identical\r\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(TestRun().pair.CompareLength, size);
    }
}

TEST_F(ComparePair, DifferencesAcrossBlocksAndAShortLastBlock) {
    // 3 blocks of 4096 and a last one of 1000 bytes, read as two whole sectors.
    std::string a = Pattern(13288, 2), b = a;
    for (size_t at : {size_t{0}, size_t{4095}, size_t{4096}, size_t{8191}, size_t{13287}}) b[at] ^= 0x5A;
    PairResult r = Compare(folder.Write(L"a", a), folder.Write(L"b", b));
    EXPECT_EQ(r.outcome, Different);
    char expected[512];
    std::string lines;
    for (size_t at : {size_t{0}, size_t{4095}, size_t{4096}, size_t{8191}, size_t{13287}}) {
        snprintf(expected, sizeof expected, "\r%08zX: %02X %02X\r\n", at, static_cast<uint8_t>(a[at]),
                 static_cast<uint8_t>(b[at]));
        lines += expected;
    }
    EXPECT_EQ(r.out, lines + "\r\n");
}

TEST_F(ComparePair, SizesThatDiffer) {
    std::wstring small = folder.Write(L"small", Pattern(100, 3));
    std::wstring large = folder.Write(L"large", Pattern(100, 3) + std::string(100, 'x'));
    PairResult r = Compare(small, large);
    EXPECT_EQ(r.outcome, Different);
    EXPECT_EQ(r.out,
              "Files have different sizes:\r\nFile1=100 bytes\r\nFile2=200 bytes\r\n -> abort! (use -i to ignore)\r\n");

    Options.ignoreSizes = true;
    r = Compare(small, large);
    EXPECT_EQ(r.outcome, Identical);
    EXPECT_EQ(r.out,
              "Files have different sizes:\r\nFile1=100 bytes\r\nFile2=200 bytes\r\n"
              "comparing to end of the small file...\r\n\rFiles are identical\r\n");
    EXPECT_EQ(TestRun().pair.CompareLength, 100u);

    // Quiet: the size lines stay, the rest goes.
    Options.quiet = true;
    Options.ignoreSizes = false;
    r = Compare(small, large);
    EXPECT_EQ(r.out,
              "Files have different sizes:\r\nFile1=100 bytes\r\nFile2=200 bytes\r\n -> abort! (use -i to ignore)\r\n");
}

TEST_F(ComparePair, FirstBytesAndStartOffset) {
    std::string a = Pattern(10000, 4), b = a;
    b[600] ^= 1;
    b[9000] ^= 1;
    std::wstring pa = folder.Write(L"a", a), pb = folder.Write(L"b", b);
    struct Case {
        uint64_t first, start;
        CompareOutcome outcome;
        uint64_t compareLength;
        const char* firstLine;
    } cases[] = {
        {600, 0, Identical, 600, "\rFiles are identical"},
        {601, 0, Different, 601, "\r00000258:"},
        {20000, 0, Different, 10000, "\r00000258:"},
        {0, 1024, Different, 10000, "\r00001F28:"},  // offsets count from the start offset: 9000 - 1024
        {0, 9216, Identical, 10000, "\rFiles are identical"},
        {0, 10000, Identical, 10000, "\rFiles are identical"},  // nothing left to compare
        {0, 600, Different, 10000, "\r00000000:"},               // from byte n exactly, within a sector
        {0, 601, Different, 10000, "\r000020CF:"},
    };
    for (const Case& c : cases) {
        Options.firstBytes = c.first;
        SetStartOffset(&TestRun(), c.start);
        PairResult r = Compare(pa, pb);
        EXPECT_EQ(r.outcome, c.outcome) << c.first << "/" << c.start;
        EXPECT_EQ(TestRun().pair.CompareLength, c.compareLength);
        EXPECT_EQ(r.out.substr(0, strlen(c.firstLine)), c.firstLine) << r.out;
    }
    Options.firstBytes = 0;
    SetStartOffset(&TestRun(), 10240);
    PairResult r = Compare(pa, pb);
    SetStartOffset(&TestRun(), 0);
    EXPECT_EQ(r.outcome, Different);
    EXPECT_EQ(r.err, "Error: StartPos (10240) > FileSize2 (10000) -> abort");
    EXPECT_EQ(r.out, "");
}

TEST_F(ComparePair, TheNullDeviceAsASide) {
    std::string data(5000, 0);
    data[10] = 1;
    data[4999] = 2;
    std::wstring file = folder.Write(L"z", data);
    TestRun().setup.SideIsNull[1] = true;
    PairResult r = Compare(file, L"\\\\.\\NUL");
    EXPECT_EQ(r.outcome, Different);
    EXPECT_EQ(r.out, "\r0000000A: 01 00\r\n\r00001387: 02 00\r\n\r\n");
    EXPECT_EQ(TestRun().pair.CompareLength, 5000u);

    TestRun().setup.SideIsNull[1] = false;
    TestRun().setup.SideIsNull[0] = true;
    Options.firstBytes = 3000;  // the null side has no end of its own
    r = Compare(L"\\\\.\\NUL", file);
    EXPECT_EQ(r.outcome, Different);
    EXPECT_EQ(r.out, "\r0000000A: 00 01\r\n\r\n");

    TestRun().setup.SideIsNull[1] = true;
    Options.firstBytes = 8192;
    r = Compare(L"\\\\.\\NUL", L"\\\\.\\NUL");
    EXPECT_EQ(r.outcome, Identical);
    EXPECT_EQ(TestRun().pair.CompareLength, 8192u);
}

TEST_F(ComparePair, SidesThatCannotBeOpened) {
    std::wstring present = folder.Write(L"p", "data");
    PairResult r = Compare(present, folder.File(L"missing"));
    EXPECT_EQ(r.outcome, Missing);
    std::wstring missing = folder.File(L"missing");
    std::string shown(missing.begin(), missing.end());
    EXPECT_EQ(r.err, "\rCannot open file2 for compare '" + shown + "'\nerr=FILE_NOT_FOUND\n");
    EXPECT_EQ(r.out, "\r\n");

    r = Compare(folder.File(L"nofolder\\x"), present);
    EXPECT_EQ(r.outcome, Missing);
    EXPECT_NE(r.err.find("Cannot open file1 for compare"), std::string::npos);
    EXPECT_NE(r.err.find("err=PATH_NOT_FOUND"), std::string::npos) << r.err;

    // A side locked by another program is there but cannot be read.
    HANDLE lock = CreateFileW(present.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    r = Compare(folder.Write(L"q", "data"), present);
    CloseHandle(lock);
    EXPECT_EQ(r.outcome, Unreadable);
    EXPECT_NE(r.err.find("err=SHARING_VIOLATION"), std::string::npos) << r.err;

    // A size that cannot be told is no size of 0: two such sides, or one against an empty file,
    // are never identical.
    std::wstring empty = folder.Write(L"e", "");
    static std::wstring failing;
    SeamOverride size(
        win.GetFileSize, +[](HANDLE h, LPDWORD high) -> DWORD {
            if (h == TestRun().pair.side[0].handle || failing == L"both") {
                ::SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_FILE_SIZE;
            }
            return ::GetFileSize(h, high);
        });
    for (const wchar_t* which : {L"one", L"both"}) {
        failing = which;
        r = Compare(present, empty);
        EXPECT_EQ(r.outcome, Unreadable) << r.out;
        EXPECT_EQ(r.err, "\rCannot read the size of file1 '" + std::string(present.begin(), present.end()) +
                             "'\nerr=ACCESS_DENIED\n");
    }
}

TEST_F(ComparePair, HardLinksAlreadyComparedAreSkipped) {
    std::wstring a = folder.Write(L"a", "same"), b = folder.Write(L"b", "same");
    std::wstring a2 = folder.File(L"a2");
    ASSERT_TRUE(CreateHardLinkW(a2.c_str(), a.c_str(), nullptr));
    FileIdList list1 = {};
    TestRun().setup.FileIds = &list1;
    TestRun().setup.HardLinkSupport[0] = TestRun().setup.HardLinkSupport[1] = true;
    TestRun().setup.FolderRun = true;  // pairs come again only in a tree
    EXPECT_EQ(Compare(a, b).outcome, Identical);
    PairResult r = Compare(a2, b);
    EXPECT_EQ(r.outcome, Identical);
    EXPECT_EQ(r.hardLinks, 1u);
    EXPECT_EQ(r.out, "--- hardlink ---\r\n");

    // Only the same two files are skipped: a second name on one side against another file on the
    // other is compared like any pair, and the other side must exist.
    std::wstring b2 = folder.File(L"b2"), c = folder.Write(L"c", "CCCC"), other = folder.Write(L"other", "diff");
    ASSERT_TRUE(CreateHardLinkW(b2.c_str(), b.c_str(), nullptr));
    struct {
        std::wstring side1, side2;
        CompareOutcome outcome;
        uint32_t hardLinks;
    } rows[] = {
        {a2, other, Different, 0},
        {c, b2, Different, 0},
        {a2, folder.File(L"missing"), Missing, 0},
        {a, b2, Identical, 1},  // b2 is b
    };
    for (const auto& row : rows) {
        r = Compare(row.side1, row.side2);
        EXPECT_EQ(r.outcome, row.outcome) << r.out;
        EXPECT_EQ(r.hardLinks, row.hardLinks) << r.out;
    }
    // Where the system tells 128-bit ids, they decide: 64-bit indexes repeat on ReFS, and a pair
    // that was never compared must not pass for one that was.
    static uint64_t idSalt;
    {
        SeamOverride ids(
            win.GetFileInformationByHandleEx,
            +[](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID out, DWORD size) -> BOOL {
                if (!::GetFileInformationByHandleEx(h, c, out, size)) return FALSE;
                static_cast<FILE_ID_INFO*>(out)->FileId.Identifier[15] = static_cast<BYTE>(idSalt);
                return TRUE;
            });
        idSalt = 1;
        EXPECT_EQ(Compare(a, b2).outcome, Identical);  // remembered with the ids of now
        idSalt = 2;
        r = Compare(a2, b);
        EXPECT_EQ(r.hardLinks, 0u) << r.out;
        EXPECT_EQ(r.out, "\rFiles are identical\r\n");
    }

    // Two names of one file, in a tree (a link between tree 1 and tree 2) or on the command line:
    // one file, identical without being read.
    for (bool tree : {true, false}) {
        TestRun().setup.FolderRun = tree;
        r = Compare(a2, a);
        EXPECT_EQ(r.outcome, Identical);
        EXPECT_EQ(r.out.find("\rFiles are identical (same file)\r\n"), 0u) << r.out;
        EXPECT_EQ(r.hardLinks, 0u);
    }
    // One identity proves one file only on one volume, as the system names the volumes of the two
    // handles: a clone keeps every id of its source. Per form of the name: 0 fails, 1 one volume,
    // 2 two volumes, 3 side 2 fails.
    static int guidAnswer, ntAnswer;
    SeamOverride names(win.GetFinalPathNameByHandleW, +[](HANDLE h, LPWSTR out, DWORD room, DWORD form) -> DWORD {
        const int answer = form == VOLUME_NAME_GUID ? guidAnswer : ntAnswer;
        const bool second = h == TestRun().pair.side[1].handle;
        if (answer == 0 || (answer == 3 && second)) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        std::wstring name = form == VOLUME_NAME_GUID ? L"\\\\?\\Volume{1}\\a" : L"\\Device\\HarddiskVolume1\\a";
        if (answer == 2 && second) name[name.rfind(L'1')] = L'2';
        if (name.size() >= room) return static_cast<DWORD>(name.size() + 1);
        wcscpy(out, name.c_str());
        return static_cast<DWORD>(name.size());
    });
    const struct {
        int guid, nt;
        bool oneFile;
    } volumes[] = {{1, 2, true}, {2, 1, false}, {0, 1, true}, {3, 1, true}, {0, 2, false}, {0, 0, false}};
    for (const auto& row : volumes) {
        guidAnswer = row.guid;
        ntAnswer = row.nt;
        r = Compare(a2, a);
        EXPECT_EQ(r.outcome, Identical);
        EXPECT_EQ(r.out, row.oneFile ? "\rFiles are identical (same file)\r\n" : "\rFiles are identical\r\n")
            << row.guid << row.nt;
    }
    FreeFileIdSlots(&list1);
}

TEST_F(ComparePair, AStopBeforeOpeningComparesNothing) {
    NoteReason(&TestRun().pair, "SHARING_VIOLATION opening file1");  // left by the pair before
    AbortFlag.store(1);
    PairResult r = Compare(folder.Write(L"a", "x"), folder.Write(L"b", "y"));
    EXPECT_EQ(r.outcome, OtherProblem);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_STREQ(TestRun().pair.Reason, "");
}

// Reads answered through the seam: the handle of side 2 fails or falls short.
struct ReadFaults {
    static inline int readsUntilFault = 0;
    static inline DWORD error = 0;    // fail with this, or
    static inline DWORD shortBy = 0;  // deliver this many bytes less
    static inline bool stopAfterRead = false;
    static BOOL WINAPI Read(HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) {
        if (stopAfterRead) AbortFlag.store(1);
        if (h != TestRun().pair.side[1].handle || readsUntilFault-- > 0) return SeamBase().ReadFile(h, buffer, length, got, o);
        if (error) {
            ::SetLastError(error);
            return FALSE;
        }
        BOOL ok = SeamBase().ReadFile(h, buffer, length, got, o);
        *got = *got > shortBy ? *got - shortBy : 0;
        return ok;
    }
    static void Reset() {
        readsUntilFault = 0;
        error = shortBy = 0;
        stopAfterRead = false;
    }
};

TEST_F(ComparePair, DevicesOfUnknownLengthAreReadToTheirEnds) {
    UntoldDeviceLengths devices;
    std::string data = Pattern(13288, 9);  // three blocks of 4096 and 1000 bytes
    std::string changed = data;
    changed[13000] ^= 1;
    std::wstring a = folder.Write(L"a", data), same = folder.Write(L"same", data);
    std::wstring other = folder.Write(L"other", changed),
                 longer = folder.Write(L"longer", data + std::string(512, 'x'));
    std::wstring muchLonger = folder.Write(L"muchLonger", data + std::string(9000, 'x'));
    std::wstring zeros = folder.Write(L"zeros", std::string(13288, 0));
    struct Row {
        std::wstring second;
        const char* options;
        CompareOutcome outcome;
        const char* out;  // the whole output, or a part of it when it begins with '*'
        const char* err;
        uint64_t length;  // the compare length found
    } rows[] = {
        {same, "", Identical, "\rFiles are identical\r\n", "", 13288},
        {other, "", Different, "*\r00000000000032C8: ", "", 13288},
        {longer, "", Different,
         "Files have different sizes:\r\nFile1=13288 bytes\r\nFile2=13800 bytes\r\n -> abort! (use -i to "
         "ignore)\r\n\r\n",
         "", 13288},
        // The longer side went on past the block: it delivered the whole block, and that is what is known.
        {muchLonger, "", Different, "*File2=16384 bytes\r\n", "", 13288},
        {longer, "-i", Identical, "*comparing to end of the small file...\r\n\rFiles are identical\r\n", "", 13288},
        {same, "-fi:5000", Identical, "\rFiles are identical\r\n", "", 5000},
        // Nothing left to read: no verdict, however equal the nothing is.
        {same, "-st:13312", Unreadable, "\r\n",
         "\nfile1 ended early: 0 of 4096 bytes read at offset 13312 -> abort\n"
         "file2 ended early: 0 of 4096 bytes read at offset 13312 -> abort\n",
         13312},
        // From byte n exactly, though reading begins at its sector.
        {same, "-st:13000", Identical, "\rFiles are identical\r\n", "", 13288},
        {other, "-st:13000", Different, "*\r0000000000000000: ", "", 13288},
    };
    for (const Row& row : rows) {
        Options = kDefaultRunOptions;
        if (std::string(row.options) == "-i") Options.ignoreSizes = true;
        if (std::string(row.options) == "-fi:5000") Options.firstBytes = 5000;
        SetStartOffset(&TestRun(), strncmp(row.options, "-st:", 4) == 0 ? strtoull(row.options + 4, nullptr, 10) : 0);
        PairResult r = Compare(a, row.second);
        EXPECT_EQ(r.outcome, row.outcome) << row.options;
        if (row.out[0] == '*') {
            EXPECT_NE(r.out.find(row.out + 1), std::string::npos) << row.options << r.out;
        } else {
            EXPECT_EQ(r.out, row.out) << row.options;
        }
        EXPECT_EQ(r.err, row.err) << row.options;
        EXPECT_EQ(TestRun().pair.CompareLength, row.length) << row.options;
    }

    // Against the null device: the device's own end ends the pair.
    Options = kDefaultRunOptions;
    SetStartOffset(&TestRun(), 0);
    TestRun().paths.device[1] = false;
    TestRun().setup.SideIsNull[1] = true;
    PairResult r = Compare(zeros, L"\\\\.\\NUL");
    EXPECT_EQ(r.outcome, Identical);
    EXPECT_EQ(TestRun().pair.CompareLength, 13288u);

    // A sector inside the medium that fails as its end would is no end unless the next one ends
    // too: what follows is read, and that sector is unread.
    SeamOverride bad(
        win.ReadFile, +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            LARGE_INTEGER zero = {}, at = {};
            ::SetFilePointerEx(h, zero, &at, FILE_CURRENT);
            if (h == TestRun().pair.side[0].handle && at.QuadPart <= 6000 && 6000 < at.QuadPart + length) {
                ::SetLastError(ERROR_SECTOR_NOT_FOUND);
                return FALSE;
            }
            return SeamBase().ReadFile(h, buffer, length, got, o);
        });
    r = Compare(zeros, L"\\\\.\\NUL");
    EXPECT_EQ(r.outcome, Unreadable);
    EXPECT_EQ(TestRun().pair.CompareLength, 13288u);
    EXPECT_NE(r.out.find("0000000000001600-00000000000017FF: not read in file1"), std::string::npos) << r.out;
    TestRun().setup.SideIsNull[1] = false;
}

// Zero blocks left out by -sz1 (zero in file 1), -sz2 (in file 2) and -sz (in either), tested on
// the blocks as read; the verdict's share is that of the pair's own range.
TEST_F(ComparePair, ZeroBlocksAreLeftOutAsTheOptionSays) {
    // Four blocks of 4096 and a short one of 1000: zero only in file 1, only in file 2, in both,
    // in neither (equal), and the short last one zero in file 1 only.
    auto filled = [](size_t size, uint32_t salt) {  // no zero byte in it
        std::string bytes = Pattern(size, salt);
        for (char& c : bytes) c = c ? c : 1;
        return bytes;
    };
    std::string same = filled(4096, 2);
    std::string one = std::string(4096, 0) + filled(4096, 1) + std::string(4096, 0) + same + std::string(1000, 0);
    std::string two = filled(4096, 3) + std::string(4096, 0) + std::string(4096, 0) + same + filled(1000, 4);
    std::wstring a = folder.Write(L"a", one), b = folder.Write(L"b", two);
    struct Row {
        bool sz, sz1, sz2;
        CompareOutcome outcome;
        bool block0Listed, block1Listed, lastListed;
        const char* verdict;
    } rows[] = {
        {false, false, false, Different, true, true, true, nullptr},
        {false, true, false, Different, false, true, false, nullptr},
        {false, false, true, Different, true, false, true, nullptr},
        {true, false, false, Identical, false, false, false, "Files are identical (76% skipped)"},
    };
    for (const Row& row : rows) {
        Options = kDefaultRunOptions;
        Options.skipZero = row.sz;
        Options.skipZero1 = row.sz1;
        Options.skipZero2 = row.sz2;
        PairResult r = Compare(a, b);
        EXPECT_EQ(r.outcome, row.outcome) << row.sz << row.sz1 << row.sz2;
        EXPECT_EQ(r.out.find("\r00000000: ") != std::string::npos, row.block0Listed) << row.sz1 << row.sz2;
        EXPECT_EQ(r.out.find("\r00001000: ") != std::string::npos, row.block1Listed) << row.sz1 << row.sz2;
        EXPECT_EQ(r.out.find("\r00004000: ") != std::string::npos, row.lastListed) << row.sz1 << row.sz2;
        if (row.verdict) {
            EXPECT_NE(r.out.find(row.verdict), std::string::npos) << r.out;
        }
    }
    // Below a MiB the share is still the pair's: an identical all-zero pair is wholly skipped.
    Options = kDefaultRunOptions;
    Options.skipZero1 = true;
    std::wstring z1 = folder.Write(L"z1", std::string(5000, 0)), z2 = folder.Write(L"z2", std::string(5000, 0));
    EXPECT_EQ(Compare(z1, z2).out, "\rFiles are identical (100% skipped)\r\n");
    Options = kDefaultRunOptions;
}

// Holes of a sparse side, as the file system reports its allocated ranges a window at a time, are
// neither read nor compared.
TEST_F(ComparePair, HolesOfASparseSideAreNotRead) {
    std::string data = Pattern(4 * 4096 + 1000, 7);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    static int reads, queries;
    reads = queries = 0;
    SeamOverride read(
        win.ReadFile, +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            ++reads;
            return SeamBase().ReadFile(h, buffer, length, got, o);
        });
    // Allocated: [0, 4096) and [12288, 17384), one range per answer, with ERROR_MORE_DATA between.
    SeamOverride ioctl(
        win.DeviceIoControl,
        +[](HANDLE h, DWORD code, LPVOID in, DWORD, LPVOID out, DWORD, LPDWORD returned, LPOVERLAPPED) -> BOOL {
            if (code != FSCTL_QUERY_ALLOCATED_RANGES || h != TestRun().pair.side[0].handle) {
                ::SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            ++queries;
            auto* query = static_cast<FILE_ALLOCATED_RANGE_BUFFER*>(in);
            auto* range = static_cast<FILE_ALLOCATED_RANGE_BUFFER*>(out);
            bool first = query->FileOffset.QuadPart < 4096;
            range->FileOffset.QuadPart = first ? 0 : 12288;
            range->Length.QuadPart = first ? 4096 : 5096;
            *returned = sizeof *range;
            if (!first) return TRUE;
            ::SetLastError(ERROR_MORE_DATA);
            return FALSE;
        });
    Options.skipZero1 = true;
    PairResult r = Compare(a, b);
    Options = kDefaultRunOptions;
    EXPECT_EQ(r.outcome, Identical);
    EXPECT_EQ(r.out, "\rFiles are identical (47% skipped)\r\n");
    EXPECT_EQ(reads, 2 * 3);  // blocks 0, 3 and 4 on both sides
    EXPECT_EQ(queries, 2);
    EXPECT_EQ(TestRun().counts.HoleBytes, 8192u);

    // A side that cannot be moved past a hole would compare what lies elsewhere.
    SeamOverride seek(
        win.SetFilePointerEx, +[](HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD) -> BOOL {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        });
    Options.skipZero1 = true;
    r = Compare(a, b);
    Options = kDefaultRunOptions;
    EXPECT_EQ(r.outcome, Unreadable);
    EXPECT_NE(r.err.find("positioning file1 at offset 8192 -> abort"), std::string::npos) << r.err;
    TestRun().counts.SkippedBytes = TestRun().counts.HoleBytes = 0;
}

TEST_F(ComparePair, PairsThatStopEarlyAreNeverIdentical) {
    std::string data = Pattern(20000, 5);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    SeamOverride read(win.ReadFile, &ReadFaults::Read);

    // Unattended, an error that neither sector reading nor a reopen can mend takes the prompt's
    // default answer, and the log says so.
    ReadFaults::Reset();
    ReadFaults::readsUntilFault = 2;
    ReadFaults::error = ERROR_ACCESS_DENIED;
    PairResult r = Compare(a, b);
    EXPECT_EQ(r.outcome, Unreadable);
    EXPECT_EQ(r.err, "\n aborted\n");
    EXPECT_EQ(r.out, "\rread error ACCESS_DENIED - abort? (Y/N) Y\r\n\r\n");

    // A file that shrank under us: what it did not deliver is not compared.
    ReadFaults::Reset();
    ReadFaults::readsUntilFault = 1;
    ReadFaults::shortBy = 100;
    r = Compare(a, b);
    EXPECT_EQ(r.outcome, Unreadable);
    EXPECT_EQ(r.err, "\nfile2 ended early: 3996 of 4096 bytes read at offset 4096 -> abort\n");
    EXPECT_EQ(r.out, "\r\n");

    // Ctrl+C during the pair.
    ReadFaults::Reset();
    ReadFaults::readsUntilFault = 1000;
    ReadFaults::stopAfterRead = true;
    r = Compare(a, b);
    EXPECT_EQ(r.outcome, OtherProblem);
    EXPECT_EQ(r.out, "\r\n");
    AbortFlag.store(0);

    // What was found before the stop still makes the pair different.
    std::string other = data;
    other[5] ^= 1;
    std::wstring c = folder.Write(L"c", other);
    ReadFaults::Reset();
    ReadFaults::readsUntilFault = 2;
    ReadFaults::error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Compare(a, c).outcome, Different);
}

// Counts what the engine asks of the system while it compares.
struct Counts {
    static inline int heapAllocs = 0, threads = 0;
    static LPVOID WINAPI HeapAlloc(HANDLE h, DWORD flags, SIZE_T size) {
        ++heapAllocs;
        return ::HeapAlloc(h, flags, size);
    }
    static HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES a, SIZE_T s, LPTHREAD_START_ROUTINE f, LPVOID p, DWORD fl,
                                      LPDWORD id) {
        ++threads;
        return ::CreateThread(a, s, f, p, fl, id);
    }
};

TEST(ComparePairCost, NoAllocationAndNoThreadPerBlock) {
    PairSetup setup;  // 1 MiB blocks
    TempFolder folder;
    std::string data = Pattern(16 << 20, 6);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    Counts::heapAllocs = Counts::threads = 0;
    SeamOverride heap(win.HeapAlloc, &Counts::HeapAlloc);
    SeamOverride thread(win.CreateThread, &Counts::CreateThread);
    int allocsBefore = 0;
    for (bool parallel : {false, true, true}) {
        TestRun().setup.ParallelReads = parallel;
        allocsBefore = Counts::heapAllocs;
        EXPECT_EQ(Compare(a, b).outcome, Identical);
        // Sequential reading needs no thread; parallel reading one reader per side for the run.
        EXPECT_EQ(Counts::threads, parallel ? 2 : 0);
        // Each reader and what it works on are made once for the run.
        EXPECT_EQ(Counts::heapAllocs, parallel ? 4 : 0);
    }
    EXPECT_EQ(TestRun().pair.BlockCount, 16u);
    EXPECT_EQ(Counts::heapAllocs - allocsBefore, 0);
    // On one drive that may seek, the turns' buffers are made only where the first block came
    // slower than memory: data in the page cache is read block by block without them.
    TestRun().setup.ParallelReads = false;
    TestRun().setup.LongTurns = true;
    for (bool slowDrive : {false, true}) {
        std::optional<SlowClock> slow;
        if (slowDrive) slow.emplace();
        EXPECT_EQ(Compare(a, b).outcome, Identical);
        EXPECT_EQ(TestRun().sources.turn != nullptr, slowDrive);
    }
    TestRun().setup.LongTurns = false;
}

}  // namespace
