#include "base/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "base/os_version.h"
#include "base/waits.h"
#include "base/workers.h"
#include "support/seam.h"

namespace {

TEST(ReserveBuffer, WholePagesWithOneSpareWhenTheRequestIsAlreadyWhole) {
    struct Case {
        uint64_t request, reserved;
    } cases[] = {{0, 4096},          {1, 4096},     {4095, 4096}, {4096, 8192}, {4097, 8192}, {1048576 + 1, 1052672},
                 {1048576, 1052672}, {65537, 69632}};
    for (const Case& c : cases) EXPECT_EQ(ReservedBufferSize(c.request), c.reserved) << c.request;
}

TEST(ReserveBuffer, RealBlocksArePageAlignedAndZero) {
    auto* block = static_cast<unsigned char*>(ReserveBuffer(1048577));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4096, 0u);
    for (size_t i = 0; i < 1052672; i += 509) ASSERT_EQ(block[i], 0);
    block[1052671] = 1;  // the whole rounded size is usable
    ReleaseBuffer(block);
    ReleaseBuffer(nullptr);
}

TEST(ReserveBuffer, ARequestThatWrapsAroundIsRefused) {
    static int calls;
    calls = 0;
    SeamOverride alloc(
        win.VirtualAlloc, +[](LPVOID, SIZE_T, DWORD, DWORD) -> LPVOID {
            ++calls;
            return nullptr;
        });
    EXPECT_EQ(ReserveBuffer(UINT64_MAX - 100), nullptr);
    EXPECT_EQ(calls, 0);
}

TEST(AllocZeroed, WaitsAndBeepsUntilTheHeapHasRoom) {
    static int failuresLeft, sleeps, beeps;
    failuresLeft = 3;
    sleeps = beeps = 0;
    SeamOverride heap(
        win.HeapAlloc, +[](HANDLE h, DWORD flags, SIZE_T bytes) -> LPVOID {
            if (failuresLeft > 0) {
                --failuresLeft;
                return nullptr;
            }
            EXPECT_TRUE(flags & HEAP_ZERO_MEMORY);
            return ::HeapAlloc(h, flags, bytes);
        });
    SeamOverride sleep(
        win.Sleep, +[](DWORD ms) {
            EXPECT_EQ(ms, 500u);
            ++sleeps;
        });
    SeamOverride beep(
        win.Beep, +[](DWORD frequency, DWORD ms) -> BOOL {
            EXPECT_EQ(frequency, 1000u);
            EXPECT_EQ(ms, 3000u);
            ++beeps;
            return TRUE;
        });
    auto* block = static_cast<unsigned char*>(AllocZeroed(100));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(beeps, 3);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(block[i], 0);
    FreeBlock(block);
}

TEST(OsVersion, PackedCodes) {
    struct Case {
        uint32_t major, minor, code;
    } cases[] = {{5, 1, 0x0501}, {6, 0, 0x0600}, {6, 1, 0x0601}, {6, 3, 0x0603}, {10, 0, 0x1000}, {12, 34, 0x1234}};
    for (const Case& c : cases) EXPECT_EQ(PackVersionCode(c.major, c.minor), c.code);
}

TEST(OsVersion, ReadsTheReportedVersionOrStaysZero) {
    OsVersionRecord record = {1, 2, 3, 4};
    {
        SeamOverride version(
            win.GetVersionExW, +[](LPOSVERSIONINFOW info) -> BOOL {
                EXPECT_EQ(info->dwOSVersionInfoSize, 284u);
                info->dwMajorVersion = 10;
                info->dwMinorVersion = 0;
                info->dwBuildNumber = 19045;
                return TRUE;
            });
        ReadOsVersion(&record);
    }
    EXPECT_EQ(record.major, 10u);
    EXPECT_EQ(record.build, 19045u);
    EXPECT_EQ(record.code, 0x1000u);

    SeamOverride fail(
        win.GetVersionExW, +[](LPOSVERSIONINFOW) -> BOOL { return FALSE; });
    ReadOsVersion(&record);
    EXPECT_EQ(record.major, 0u);
    EXPECT_EQ(record.code, 0u);
}

}  // namespace

TEST(WaitForThreadEnd, AsLongAsItTakesUntilAStopThenAboutASecond) {
    static HANDLE release;
    static bool stop;
    release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct {
        DWORD threadMs;  // how long the thread takes; INFINITE: until released
        bool stop;
        bool ended;
    } rows[] = {{300, false, true}, {300, true, true}, {INFINITE, true, false}};
    for (const auto& row : rows) {
        stop = row.stop;
        ::ResetEvent(release);
        HANDLE thread = ::CreateThread(
            nullptr, 0,
            +[](LPVOID ms) -> DWORD {
                return ::WaitForSingleObject(release, static_cast<DWORD>(reinterpret_cast<uintptr_t>(ms)));
            },
            reinterpret_cast<LPVOID>(static_cast<uintptr_t>(row.threadMs)), 0, nullptr);
        ULONGLONG began = ::GetTickCount64();
        EXPECT_EQ(WaitForThreadEnd(
                      thread, +[] { return stop; }),
                  row.ended)
            << row.threadMs << row.stop;
        EXPECT_LT(::GetTickCount64() - began, 3000u);
        ::SetEvent(release);
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
    ::CloseHandle(release);
}

TEST(CallWorker, AwaitedWhileItWorksAbandonedOnlyAfterAStop) {
    static HANDLE release;
    static bool stop;
    release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct {
        DWORD callMs;  // how long the call takes; INFINITE: until released
        bool stop;
        bool done;
    } rows[] = {{0, false, true}, {300, false, true}, {300, true, true}, {INFINITE, true, false}};
    CallWorker* worker = nullptr;
    for (const auto& row : rows) {
        stop = row.stop;
        ::ResetEvent(release);
        static DWORD callMs;
        static int calls;
        callMs = row.callMs;
        ASSERT_TRUE(PostCall(
            &worker,
            +[](void* count) {
                ::WaitForSingleObject(release, callMs);
                ++*static_cast<int*>(count);
            },
            &calls));
        ULONGLONG began = ::GetTickCount64();
        EXPECT_EQ(AwaitCall(&worker, +[] { return stop; }), row.done) << row.callMs << row.stop;
        EXPECT_LT(::GetTickCount64() - began, 3000u);
        // An abandoned worker is gone; the next call gets a new one.
        EXPECT_EQ(worker != nullptr, row.done);
    }
    ::SetEvent(release);
    StopCallWorker(&worker, +[] { return false; });
    EXPECT_EQ(worker, nullptr);
    ::Sleep(100);  // the abandoned call returns into its own state before the event goes
    ::CloseHandle(release);
}
