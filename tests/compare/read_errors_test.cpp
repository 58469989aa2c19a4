// Read errors on a console: sector-by-sector recovery, reopening, prompts, and the progress line.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/run_options.h"
#include "compare/compare_pair.h"
#include "compare/reader_threads.h"
#include "compare/side_readers.h"
#include "support/fake_console.h"
#include "support/pair_setup.h"
#include "support/temp_folder.h"

namespace fc = fake_console;

namespace {

// The sides named in `sides` (1, 2 or both as bits) are real files with bad sectors: a read that
// touches one fails, and a bad sector fails every attempt, without moving the file pointer, as a
// disk does.
struct BadMedium {
    static inline int sides = 1;
    static inline std::set<uint64_t> badSectors;
    static inline std::set<uint64_t> badSectors2;  // side 2's, where they are not side 1's
    static inline uint32_t sector = 4096;
    static inline DWORD error = ERROR_CRC;
    static inline int sectorReads = 0;
    static inline uint64_t lastPosition = 0;
    // The side a handle reads: one of the pair's own, or another handle to one of its files, as
    // the read-ahead opens.
    static int SideOf(HANDLE h) {
        for (int side = 0; side < 2; ++side) {
            if (h == TestRun().pair.side[side].handle) return side;
        }
        BY_HANDLE_FILE_INFORMATION info, own;
        if (!::GetFileInformationByHandle(h, &info)) return -1;
        for (int side = 0; side < 2; ++side) {
            if (::GetFileInformationByHandle(TestRun().pair.side[side].handle, &own) &&
                own.nFileIndexLow == info.nFileIndexLow && own.nFileIndexHigh == info.nFileIndexHigh) {
                return side;
            }
        }
        return -1;
    }
    static BOOL WINAPI Read(HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) {
        const int side = SideOf(h);
        if (side < 0 || !(sides & (1 << side))) return SeamBase().ReadFile(h, buffer, length, got, o);
        LARGE_INTEGER zero = {}, at = {};
        if (o) {
            at.QuadPart = static_cast<LONGLONG>(o->Offset | static_cast<uint64_t>(o->OffsetHigh) << 32);
        } else {
            ::SetFilePointerEx(h, zero, &at, FILE_CURRENT);
        }
        lastPosition = static_cast<uint64_t>(at.QuadPart);
        if (length == sector) ++sectorReads;
        for (uint64_t s : side == 1 && !badSectors2.empty() ? badSectors2 : badSectors) {
            if (s * sector >= lastPosition && s * sector < lastPosition + length) {
                ::SetLastError(error);
                return FALSE;
            }
        }
        return SeamBase().ReadFile(h, buffer, length, got, o);
    }
};

std::string Bytes(size_t size, uint8_t salt) {
    std::string data(size, 0);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + salt) % 255 + 1);  // never 0
    return data;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool CellsShow(const std::string& text) {
    std::wstring wide(text.begin(), text.end());
    for (int i = 0; i < fc::CellWriteCount(); ++i) {
        if (std::wstring(fc::CellWriteAt(i).text).find(wide) != std::wstring::npos) return true;
    }
    return false;
}

class ReadErrors : public FakeConsoleTest {
protected:
    void SetUp() override {
        FakeConsoleTest::SetUp();
        setup = new PairSetup(1048576, 4096);
        Session = &session;
        BadMedium::sides = 1;
        BadMedium::badSectors.clear();
        BadMedium::badSectors2.clear();
        BadMedium::error = ERROR_CRC;
        BadMedium::sectorReads = 0;
        win.ReadFile = &BadMedium::Read;
    }
    void TearDown() override {
        delete setup;
        FakeConsoleTest::TearDown();
    }
    CompareOutcome Compare(const std::wstring& a, const std::wstring& b) {
        uint32_t links = 0;
        return CompareFilePair(&TestRun(), a.c_str(), b.c_str(), false);
    }
    PairSetup* setup = nullptr;
    TempFolder folder;
};

TEST(Recovery, ByTheErrorAndTheSidesSituation) {
    struct {
        DWORD error;
        int32_t rounds;  // reopenable rounds of this block, this one included
        int32_t retryCount;
        bool unbuffered;
        Recovery recovery;
    } rows[] = {
        {ERROR_CRC, 0, 11, true, Recovery::kSectorBySector},
        {ERROR_SECTOR_NOT_FOUND, 0, 11, false, Recovery::kSectorBySector},
        {ERROR_SEM_TIMEOUT, 0, 11, true, Recovery::kSectorBySector},
        {ERROR_IO_DEVICE, 0, 11, true, Recovery::kSectorBySector},
        {ERROR_NOT_READY, 1, 11, true, Recovery::kReopen},
        {ERROR_MEDIA_CHANGED, 10, 11, true, Recovery::kReopen},
        {ERROR_NETNAME_DELETED, 11, 11, true, Recovery::kSectorBySector},  // RetryCount reads in all
        {ERROR_BAD_NETPATH, 1, 1, false, Recovery::kSectorBySector},       // -r:0: no reopen at all
        {ERROR_INVALID_PARAMETER, 0, 11, true, Recovery::kReopenBuffered},
        {ERROR_INVALID_PARAMETER, 0, 11, false, Recovery::kAsk},  // refused on a buffered handle
        {ERROR_ACCESS_DENIED, 0, 11, true, Recovery::kAsk},
        {ERROR_SHARING_VIOLATION, 0, 11, false, Recovery::kAsk},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ChooseRecovery(row.error, row.rounds, row.retryCount, row.unbuffered), row.recovery)
            << row.error << " " << row.rounds;
    }
}

TEST_F(ReadErrors, ACrcErrorInOneSectorIsReadAroundSectorBySector) {
    std::string data = Bytes(1048576, 1);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    BadMedium::badSectors = {100};
    // Zeros in place of a sector prove nothing: never identical, never different for them alone.
    EXPECT_EQ(Compare(a, b), Unreadable);
    std::string out = fc::Output();
    EXPECT_EQ(Count(out, "error CRC - try reading single sectors...\r\n"), 1u);
    EXPECT_EQ(Count(out, "Reading sector "), 256u);
    EXPECT_EQ(Count(out, "Reading sector 256 of 256..."), 1u);
    EXPECT_EQ(Count(out, "  1 failed"), 1u);
    EXPECT_EQ(Count(out, "255 of 256 sectors successfully read, 1 failed\r\n"), 1u);
    // The bad sector was tried RetryCount times, with a notice before each further attempt.
    EXPECT_EQ(BadMedium::sectorReads, 255 + kDefaultRetryCount);
    EXPECT_TRUE(CellsShow("retry 1 of 10"));
    EXPECT_TRUE(CellsShow("10 of 10"));
    EXPECT_FALSE(CellsShow("11 of"));
    // The sector compares as zeros: every byte of it is listed.
    EXPECT_EQ(Count(out, ": 00 "), 4096u);
    EXPECT_NE(out.find("\r00064000: 00 "), std::string::npos);
    // ... and they are named once, so a reader knows which listed lines are not data.
    EXPECT_EQ(Count(out, "\r00064000-00064FFF: not read in file1\r\n"), 1u);
    EXPECT_EQ(Count(out, "Files are identical"), 0u);

    // A difference among the bytes that were read decides: different.
    std::string other = data;
    other[5] ^= 1;
    std::wstring c = folder.Write(L"c", other);
    EXPECT_EQ(Compare(a, c), Different);
}

TEST_F(ReadErrors, OneAttemptPerSectorWithoutRetries) {
    Options.RetryCount = 1;  // -r:0
    std::string data = Bytes(1048576, 2);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    BadMedium::badSectors = {0};
    EXPECT_EQ(Compare(a, b), Unreadable);
    EXPECT_EQ(BadMedium::sectorReads, 256);
    EXPECT_FALSE(CellsShow(" retry "));
}

TEST_F(ReadErrors, TheEndOfTheMediumStopsTheSectorReading) {
    // Two blocks; the medium "ends" at sector 200 of the first one.
    std::string data = Bytes(2 * 1048576, 3);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    BadMedium::badSectors = {200};
    BadMedium::error = ERROR_SECTOR_NOT_FOUND;
    EXPECT_EQ(Compare(a, b), Unreadable);
    std::string out = fc::Output();
    EXPECT_EQ(Count(out, "Reading sector "), 201u);
    EXPECT_EQ(Count(out, "sectors successfully read"), 0u);
    // Sectors 200 to 255 were not read: zero, not the bytes of another block, so each of their
    // bytes is a difference; the second block was read from its own start and matches.
    EXPECT_EQ(Count(out, ": 00 "), 56u * 4096 > 10000 ? 10000u : 56u * 4096);
    EXPECT_EQ(Count(out, "229376 diffs found\r\n"), 1u);
    EXPECT_EQ(Count(out, "\r000C8000-000FFFFF: not read in file1\r\n"), 1u);
    EXPECT_EQ(BadMedium::lastPosition, 1048576u);
}

TEST_F(ReadErrors, NoPositionQueryDecidesWhereBlocksAreRead) {
    // The medium ends inside the second of three blocks, and every position query fails: the next
    // block is still read from its own start, which the engine knows.
    std::string data = Bytes(3 * 1048576, 4);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    BadMedium::badSectors = {300};
    BadMedium::error = ERROR_SECTOR_NOT_FOUND;
    SeamOverride query(
        win.SetFilePointerEx, +[](HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER at, DWORD method) -> BOOL {
            if (distance.QuadPart == 0 && method == FILE_CURRENT) {
                ::SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            return ::SetFilePointerEx(h, distance, at, method);
        });
    EXPECT_EQ(Compare(a, b), Unreadable);
    EXPECT_EQ(BadMedium::lastPosition, 2u * 1048576);
    EXPECT_EQ(Count(fc::Output(), "\r0012C000-001FFFFF: not read in file1\r\n"), 1u);
}

struct Reopen {
    static inline int failures = 0;
    static inline int opens = 0;
    static inline DWORD flags = 0;
    static inline DWORD shares = 0;
    static inline std::wstring side1;
    static HANDLE WINAPI Create(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how,
                                DWORD attributes, HANDLE templ) {
        // Every open of side 1 after the first is a reopen.
        if (std::wstring(path) == side1 && opens++ > 0) {
            flags = attributes;
            shares = share;
            if (failures-- > 0) {
                ::SetLastError(ERROR_BAD_NETPATH);
                return INVALID_HANDLE_VALUE;
            }
        }
        return ::CreateFileW(path, access, share, sa, how, attributes, templ);
    }
};

TEST_F(ReadErrors, ALostShareIsReopenedUntilItAnswersOrTheUserGivesUp) {
    std::string data = Bytes(3 * 1048576, 4);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    win.CreateFileW = &Reopen::Create;
    Reopen::side1 = a;
    struct Case {
        DWORD error;
        int failures;
        const char* keys;
        CompareOutcome outcome;
        bool buffered;
    } cases[] = {
        {ERROR_NETNAME_DELETED, 2, "NN", Identical, false},   // back after two refusals
        {ERROR_NETNAME_DELETED, 5, "NY", Unreadable, false},  // the user gives up
        {ERROR_INVALID_PARAMETER, 0, "", Identical, true},    // unbuffered reads refused
    };
    for (const Case& c : cases) {
        Restart();
        Session = &session;
        TestRun().OpenFlags = kDefaultOpenFlags;
        Reopen::failures = c.failures;
        Reopen::opens = 0;
        BadMedium::badSectors = {300};  // in the second block; the reopened handle reads it fine
        BadMedium::error = c.error;
        static int reads;
        reads = 0;
        win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            if (h == TestRun().pair.side[0].handle && ++reads == 2) return BadMedium::Read(h, buffer, length, got, o);
            return SeamBase().ReadFile(h, buffer, length, got, o);
        };
        uint32_t at = 100;
        for (const char* k = c.keys; *k; ++k, at += 100) fc::ScriptPress(at, static_cast<WORD>(*k));
        EXPECT_EQ(Compare(a, b), c.outcome) << c.error << " " << c.keys;
        EXPECT_EQ(TestRun().OpenFlags & FILE_FLAG_NO_BUFFERING, c.buffered ? 0u : DWORD{FILE_FLAG_NO_BUFFERING});
        EXPECT_EQ(Reopen::flags & FILE_FLAG_NO_BUFFERING, c.buffered ? 0u : DWORD{FILE_FLAG_NO_BUFFERING});
        // A reopen shares as the first open: asking for less could fail where that worked.
        EXPECT_EQ(Reopen::shares, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE});
        EXPECT_FALSE(fc::DeadlineHit());
    }
}

TEST_F(ReadErrors, AVolumeThatRefusesUnbufferedReadsRefusesThemToEveryHandle) {
    // Both sides opened unbuffered on such a volume: each handle that meets the refusal is opened
    // again without the flag, the second as the first, and nothing is asked.
    std::string data = Bytes(2 * 1048576, 9);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    static std::set<HANDLE> unbuffered;
    unbuffered.clear();
    SeamOverride open(
        win.CreateFileW, +[](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
            HANDLE h = ::CreateFileW(p, a, s, sa, d, f, t);
            // Handle values come again after a close.
            if (f & FILE_FLAG_NO_BUFFERING) {
                unbuffered.insert(h);
            } else {
                unbuffered.erase(h);
            }
            return h;
        });
    win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
        if (unbuffered.count(h)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return SeamBase().ReadFile(h, buffer, length, got, o);
    };
    fc::SetOutputRedirected(true);
    session.outputRedirected = true;
    TestRun().OpenFlags = kDefaultOpenFlags;
    EXPECT_EQ(Compare(a, b), Identical) << fc::Output();
    EXPECT_EQ(Count(fc::Output(), "abort?"), 0u);
    EXPECT_EQ(TestRun().OpenFlags & FILE_FLAG_NO_BUFFERING, 0u);
}

TEST_F(ReadErrors, AFailedSeekEndsTheSideUnread) {
    // After a reopen, and over a bad sector: a handle left elsewhere would compare other bytes,
    // which in a file of repeating or zero blocks look the same.
    std::string data(3 * 1048576, 'z');
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    SeamOverride seek(
        win.SetFilePointerEx, +[](HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD) -> BOOL {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        });
    fc::SetOutputRedirected(true);
    session.outputRedirected = true;
    for (DWORD error : {ERROR_NETNAME_DELETED, ERROR_CRC}) {
        Restart();
        Session = &session;
        fc::SetOutputRedirected(true);
        BadMedium::badSectors = {300};
        BadMedium::error = error;
        static int reads;
        reads = 0;
        // Only the first read of the second block fails: a reopened handle reads it fine.
        win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            if (h == TestRun().pair.side[0].handle && length == 1048576 && ++reads == 2) {
                return BadMedium::Read(h, buffer, length, got, o);
            }
            if (h == TestRun().pair.side[0].handle && length != 1048576 && BadMedium::error == ERROR_CRC) {
                return BadMedium::Read(h, buffer, length, got, o);
            }
            return SeamBase().ReadFile(h, buffer, length, got, o);
        };
        EXPECT_EQ(Compare(a, b), Unreadable) << error;
        EXPECT_EQ(Count(fc::Output(), "Files are identical"), 0u) << error;
        EXPECT_FALSE(fc::DeadlineHit());
    }
}

TEST_F(ReadErrors, AReadThatKeepsFailingAfterEveryReopenIsReadSectorBySector) {
    // Every open works and the block's read always fails the same reopenable way: bounded, said
    // on one line, and what can be read is still compared.
    std::string data = Bytes(2 * 1048576, 6);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    BadMedium::badSectors = {300};
    BadMedium::error = ERROR_NOT_READY;
    EXPECT_EQ(Compare(a, b), Unreadable);
    std::string out = fc::Output();
    EXPECT_EQ(Count(out, "error NOT_READY after 10 reopens - try reading single sectors...\r\n"), 1u) << out;
    EXPECT_EQ(Count(out, "255 of 256 sectors successfully read, 1 failed\r\n"), 1u);
    EXPECT_EQ(Count(out, "\r0012C000-0012CFFF: not read in file1\r\n"), 1u);
    EXPECT_FALSE(fc::DeadlineHit());

    // Errors that take turns are bounded the same way.
    Restart();
    Session = &session;
    static int turns;
    turns = 0;
    win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
        BadMedium::error = ++turns % 2 ? ERROR_NOT_READY : ERROR_MEDIA_CHANGED;
        return BadMedium::Read(h, buffer, length, got, o);
    };
    EXPECT_EQ(Compare(a, b), Unreadable);
    EXPECT_EQ(Count(fc::Output(), "after 10 reopens - try reading single sectors...\r\n"), 1u) << fc::Output();
    EXPECT_FALSE(fc::DeadlineHit());
}

TEST_F(ReadErrors, AShortReadBeforeTheEndIsNoEnd) {
    // Network and user-mode file systems return part of a block when an error begins inside it;
    // the rest is read, on either side, and only a file that really is shorter ends early.
    std::string data = Bytes(3 * 1048576, 7);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    static HANDLE (*sideOf)();
    static int shortReads;
    for (int side = 0; side < 2; ++side) {
        sideOf =
            side == 0 ? +[] { return TestRun().pair.side[0].handle; } : +[] { return TestRun().pair.side[1].handle; };
        shortReads = 0;
        win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
            // Half of every full block.
            if (h == sideOf() && length == 1048576) {
                ++shortReads;
                return SeamBase().ReadFile(h, buffer, length / 2, got, o);
            }
            return SeamBase().ReadFile(h, buffer, length, got, o);
        };
        EXPECT_EQ(Compare(a, b), Identical) << side;
        EXPECT_EQ(shortReads, 3) << side;
        EXPECT_EQ(Count(fc::Output(), "ended early"), 0u) << side;
    }
}

TEST_F(ReadErrors, BothSidesRecoverAlikeOnAConsoleAndUnattended) {
    std::string data = Bytes(2 * 1048576, 5);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    struct Case {
        int sides;
        bool unattended;
        DWORD error;
        CompareOutcome outcome;
        std::vector<std::string> shown;   // each once in the output
        std::vector<std::string> absent;  // never
        std::set<uint64_t> bad = {100};
        std::set<uint64_t> bad2 = {};  // side 2's where they differ
        int differAt = -1;             // a byte that both sides deliver and that differs
    } cases[] = {
        {2,
         false,
         ERROR_CRC,
         Unreadable,
         {"error CRC - try reading single sectors...\r\n", "Reading sector 256 of 256...",
          "255 of 256 sectors successfully read, 1 failed\r\n", "\r00064000-00064FFF: not read in file2\r\n"},
         {"not read in file1", "abort?"}},
        // Unattended: the same recovery with whole lines only, and no pause for a reader.
        {1,
         true,
         ERROR_CRC,
         Unreadable,
         {"error CRC - try reading single sectors...\r\n", "255 of 256 sectors successfully read, 1 failed\r\n",
          "\r00064000-00064FFF: not read in file1\r\n"},
         {"Reading sector", "failed  ", "  1 failed", "retry", "abort?"}},
        {2,
         true,
         ERROR_IO_DEVICE,
         Unreadable,
         {"error IO_DEVICE - try reading single sectors...\r\n", "\r00064000-00064FFF: not read in file2\r\n"},
         {"Reading sector", "abort?"}},
        {2,
         false,
         ERROR_NOT_READY,
         Unreadable,
         {"error NOT_READY after 10 reopens - try reading single sectors...\r\n",
          "\r00064000-00064FFF: not read in file2\r\n"},
         {}},
        {1,
         true,
         ERROR_NOT_READY,
         Unreadable,
         {"error NOT_READY after 10 reopens - try reading single sectors...\r\n",
          "255 of 256 sectors successfully read, 1 failed\r\n"},
         {"Reading sector"}},
        // Nothing mends this one: unattended the prompt's default answer, shown as if typed.
        {1, true, ERROR_ACCESS_DENIED, Unreadable, {"read error ACCESS_DENIED - abort? (Y/N) Y\r\n"}, {"try reading"}},
        {2, true, ERROR_ACCESS_DENIED, Unreadable, {"\rread error ACCESS_DENIED - abort? (Y/N) Y\r\n"}, {}},
        // A difference in another block than the unread sector is a difference.
        {1,
         true,
         ERROR_CRC,
         Different,
         {"\r00064000-00064FFF: not read in file1\r\n", "\r00100005: "},
         {},
         {100},
         {},
         1048581},
        // The sides fail in different blocks of one turn: each error is recovered in its own block.
        {3,
         true,
         ERROR_CRC,
         Unreadable,
         {"\r00064000-00064FFF: not read in file2\r\n", "\r0012C000-0012CFFF: not read in file1\r\n"},
         {"abort?"},
         {300},
         {100}},
    };
    for (const Case& c : cases) {
        Restart();
        Session = &session;
        fc::SetOutputRedirected(c.unattended);
        session.outputRedirected = c.unattended;
        BadMedium::sides = c.sides;
        BadMedium::badSectors = c.bad;
        BadMedium::badSectors2 = c.bad2;
        BadMedium::error = c.error;
        BadMedium::sectorReads = 0;
        std::string changed = data;
        if (c.differAt >= 0) changed[c.differAt] ^= 1;
        const std::wstring second = c.differAt < 0 ? b : folder.Write(L"d", changed);
        const int sectorReads = (c.sides == 3 ? 2 : 1) * (255 + kDefaultRetryCount);
        EXPECT_EQ(Compare(a, second), c.outcome) << c.sides << c.unattended << c.error;
        std::string out = fc::Output();
        for (const std::string& line : c.shown) EXPECT_EQ(Count(out, line), 1u) << line << "\n" << out;
        for (const std::string& text : c.absent) EXPECT_EQ(Count(out, text), 0u) << text << "\n" << out;
        EXPECT_EQ(Count(out, "Files are identical"), 0u);
        if (c.error == ERROR_CRC) EXPECT_EQ(BadMedium::sectorReads, sectorReads);
        bool paused = false;
        for (int i = 0; i < fc::SleepCount(); ++i) paused |= fc::SleepAt(i) == 1000;
        EXPECT_EQ(paused, !c.unattended && c.error != ERROR_ACCESS_DENIED);
        EXPECT_FALSE(fc::DeadlineHit());
        // Inside a long turn of one drive, or read ahead from a share, the error is recovered
        // when its block is reached: the same lines, in the same order, and the same outcome.
        for (bool RunSetup::*schedule : {&RunSetup::LongTurns, &RunSetup::NetworkSide}) {
            Restart();
            Session = &session;
            fc::SetOutputRedirected(c.unattended);
            session.outputRedirected = c.unattended;
            TestRun().setup.*schedule = true;
            SlowClock slow;
            BadMedium::sectorReads = 0;
            EXPECT_EQ(Compare(a, second), c.outcome) << "read ahead " << (schedule == &RunSetup::NetworkSide);
            EXPECT_TRUE(fc::Output() == out) << c.sides << c.unattended << c.error << "\n"
                                             << fc::Output().substr(0, 300);
            if (c.error == ERROR_CRC) EXPECT_EQ(BadMedium::sectorReads, sectorReads);
            TestRun().setup.*schedule = false;
        }
    }
    // On a console nobody can answer either when it has no window (a scheduled task, a runner
    // that starts the program without one) or when no key can come from standard input.
    for (int nobody = 0; nobody < 2; ++nobody) {
        Restart();
        Session = &session;
        fc::SetOutputRedirected(false);
        session.outputRedirected = 0;
        session.noConsoleWindow = nobody == 0;
        session.inputNotConsole = nobody == 1;
        BadMedium::sides = 1;
        BadMedium::error = ERROR_ACCESS_DENIED;
        EXPECT_EQ(Compare(a, b), Unreadable) << nobody;
        EXPECT_EQ(Count(fc::Output(), "read error ACCESS_DENIED - abort? (Y/N) Y\r\n"), 1u) << fc::Output();
        EXPECT_FALSE(fc::DeadlineHit());
    }
    session.noConsoleWindow = session.inputNotConsole = false;
}

TEST_F(ReadErrors, BothSidesReadAtOnceRecoverOneAfterTheOther) {
    std::string data = Bytes(1048576, 8);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    TestRun().setup.ParallelReads = true;
    BadMedium::sides = 3;
    BadMedium::badSectors = {7};
    EXPECT_EQ(Compare(a, b), Unreadable);
    std::string out = fc::Output();
    size_t first = out.find("error CRC - try reading single sectors...");
    size_t second = out.find("error CRC - try reading single sectors...", first + 1);
    ASSERT_NE(second, std::string::npos) << out;
    // The first side's sector reading ends before the second side's begins.
    size_t closing = out.find("255 of 256 sectors successfully read, 1 failed\r\n", first);
    EXPECT_LT(closing, second);
    EXPECT_EQ(Count(out.substr(first, second - first), "Reading sector 1 of 256..."), 1u);
    EXPECT_EQ(Count(out, "\r00007000-00007FFF: not read in file1\r\n"), 1u);
    EXPECT_EQ(Count(out, "\r00007000-00007FFF: not read in file2\r\n"), 1u);

    // Hand-overs whose every wait fails still end: the readers' counters decide, and a wait
    // looks again after a moment.
    Restart();
    Session = &session;
    BadMedium::badSectors.clear();
    SeamOverride lost(
        win.SleepConditionVariableSRW, +[](PCONDITION_VARIABLE, PSRWLOCK, DWORD, ULONG) -> BOOL {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        });
    EXPECT_EQ(Compare(a, b), Identical);
    StopReaderThreads(&TestRun());
    EXPECT_FALSE(fc::DeadlineHit());
}

TEST_F(ReadErrors, AnErrorOfNoOtherClassOnlyAsks) {
    std::string data = Bytes(4096, 5);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    static int failures;
    failures = 1;
    win.ReadFile = +[](HANDLE h, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED o) -> BOOL {
        if (h == TestRun().pair.side[1].handle && failures-- > 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return SeamBase().ReadFile(h, buffer, length, got, o);
    };
    fc::ScriptPress(100, 'N');
    EXPECT_EQ(Compare(a, b), Identical);
    std::string out = fc::Output();
    EXPECT_NE(out.find("\rread error ACCESS_DENIED - abort? (Y/N) N"), std::string::npos) << out;
    EXPECT_NE(out.find("try reading..."), std::string::npos);

    failures = 1000;
    fc::ScriptPress(fc::Now() + 100, 'N');
    fc::ScriptPress(fc::Now() + 2000, VK_ESCAPE);  // Esc answers Y: give up
    EXPECT_EQ(Compare(a, b), Unreadable);
    EXPECT_FALSE(fc::DeadlineHit());
}

TEST_F(ReadErrors, ASizeDifferencePausesOnlyForOnePairOnAConsole) {
    std::wstring a = folder.Write(L"a", "short"), b = folder.Write(L"b", "longer");
    struct {
        bool folderRun, unattended, paused;
    } rows[] = {{false, false, true}, {true, false, false}, {false, true, false}};
    for (const auto& row : rows) {
        Restart();
        Session = &session;
        fc::SetOutputRedirected(row.unattended);
        session.outputRedirected = row.unattended;
        TestRun().setup.FolderRun = row.folderRun;
        EXPECT_EQ(Compare(a, b), Different);
        bool paused = false;
        for (int i = 0; i < fc::SleepCount(); ++i) paused |= fc::SleepAt(i) == 500;
        EXPECT_EQ(paused, row.paused) << row.folderRun << row.unattended;
    }
    TestRun().setup.FolderRun = false;
}

TEST_F(ReadErrors, ProgressIsWrittenInPlaceAndClearedAtTheEnd) {
    std::string data = Bytes(3 * 1048576, 6);
    std::wstring a = folder.Write(L"a", data), b = folder.Write(L"b", data);
    static uint32_t clock;
    clock = 0;
    win.GetTickCount = +[]() -> DWORD { return clock += 150; };
    EXPECT_EQ(Compare(a, b), Identical);
    // Only changed cells are written: the first text whole, then the digit that moved on.
    ASSERT_GE(fc::CellWriteCount(), 3);
    EXPECT_EQ(std::wstring(fc::CellWriteAt(0).text), L"1 MB of 3 MB compared");
    EXPECT_TRUE(CellsShow("MB/s)"));
    EXPECT_EQ(std::wstring(fc::CellWriteAt(2).text), L"2");
    EXPECT_EQ(fc::CellWriteAt(2).region.Left, 1);
    std::string out = fc::Output();
    EXPECT_NE(out.find("Files are identical\r\nFiles compared with "), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 4), "\r\n\r\n");

    // Devices that tell no length: what has been compared, without a total.
    Restart();
    Session = &session;
    {
        UntoldDeviceLengths devices;
        EXPECT_EQ(Compare(a, b), Identical);
    }
    ASSERT_GE(fc::CellWriteCount(), 1);
    EXPECT_EQ(std::wstring(fc::CellWriteAt(0).text), L"1 MB compared");
    EXPECT_NE(fc::Output().find("Files are identical"), std::string::npos);

    // Quiet: nothing to see; only the cursor goes back to the start of its empty line.
    Restart();
    Session = &session;
    Options.quiet = true;
    EXPECT_EQ(Compare(a, b), Identical);
    EXPECT_EQ(fc::Output(), "\r");
    EXPECT_EQ(fc::CellWriteCount(), 0);
}

}  // namespace
