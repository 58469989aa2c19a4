#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/seam.h"
#include "support/strict_seam.h"
#include "support/temp_folder.h"

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

namespace {

// Each rule of the strict layer that every test runs under: the call fails as on Windows, and
// the violation names it.
TEST(StrictSeam, EachRuleFailsTheCallAsWindowsDoesAndIsRecorded) {
    TempFolder folder;
    const std::wstring file = folder.Write(L"f", std::string(8192, 'x'));
    const DWORD sector = strict::SectorSize();
    auto openUnbuffered = [&] {
        return win.CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING, nullptr);
    };
    // Whole pages, so that only what a row breaks is unaligned.
    static uint8_t* const buffer = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 65536, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    auto readUnbuffered = [&](uint64_t offset, DWORD length, size_t into) {
        HANDLE h = openUnbuffered();
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        DWORD got = 0;
        bool ok = win.ReadFile(h, buffer + into, length, &got, &at);
        win.CloseHandle(h);
        return ok;
    };
    static HANDLE closed = nullptr;
    struct Row {
        const char* rule;
        std::function<bool()> call;  // true when the call succeeded
        DWORD error;
        const char* violation;  // a part of it, or null for none
    } rows[] = {
        {"unbuffered read at an unaligned offset", [&] { return readUnbuffered(100, sector, 0); },
         ERROR_INVALID_PARAMETER, "at offset 100"},
        {"unbuffered read of part of a sector", [&] { return readUnbuffered(0, sector - 1, 0); },
         ERROR_INVALID_PARAMETER, "an unbuffered read takes whole sectors"},
        {"unbuffered read into an unaligned buffer", [&] { return readUnbuffered(0, sector, 8); },
         ERROR_INVALID_PARAMETER, "into a buffer aligned"},
        {"a long path without the prefix",
         [&] {
             HANDLE h = win.CreateFileW((L"C:\\" + std::wstring(300, L'a')).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE;
         },
         ERROR_FILENAME_EXCED_RANGE, "needs the \\\\?\\ prefix"},
        {"a folder too long to create without the prefix",
         [&] { return win.CreateDirectoryW((folder.path() + L"\\" + std::wstring(250, L'd')).c_str(), nullptr) != 0; },
         ERROR_FILENAME_EXCED_RANGE, "of 248 characters or more"},
        {"a second close",
         [&] {
             closed = openUnbuffered();
             win.CloseHandle(closed);
             return win.CloseHandle(closed) != 0;
         },
         ERROR_INVALID_HANDLE, "closed a second time"},
        {"a handle used after its close",
         [&] {
             DWORD got = 0;
             return win.ReadFile(closed, buffer, sector, &got, nullptr) != 0;
         },
         ERROR_INVALID_HANDLE, "used after it was closed"},
        {"a search closed as a kernel handle",
         [&] {
             WIN32_FIND_DATAW data;
             HANDLE search = win.FindFirstFileW((folder.path() + L"\\*").c_str(), &data);
             bool ok = win.CloseHandle(search) != 0;
             win.FindClose(search);
             return ok;
         },
         ERROR_INVALID_HANDLE, "closed by the call of another kind"},
        {"a console call on a file: refused, and no fault of the caller",
         [&] {
             HANDLE h = openUnbuffered();
             DWORD written = 0;
             bool ok = win.WriteConsoleW(h, L"x", 1, &written, nullptr) != 0;
             win.CloseHandle(h);
             return ok;
         },
         ERROR_INVALID_HANDLE, nullptr},
        {"an output smaller than the record a control code always writes",
         [&] {
             HANDLE h = openUnbuffered();
             DWORD got = 0;
             bool ok = win.DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, buffer, 4, &got, nullptr) != 0;
             win.CloseHandle(h);
             return ok;
         },
         ERROR_INSUFFICIENT_BUFFER, "always writes a GET_LENGTH_INFORMATION of 8 bytes"},
        {"a buffer too small for a volume GUID path",
         [&] { return win.GetVolumeNameForVolumeMountPointW(L"C:\\", reinterpret_cast<LPWSTR>(buffer), 10) != 0; },
         ERROR_FILENAME_EXCED_RANGE, "a volume GUID path takes 50 characters"},
        {"reparse data to set that is longer than it declares",
         [&] {
             HANDLE h = openUnbuffered();
             const uint32_t data[5] = {IO_REPARSE_TAG_SYMLINK, 4};  // 4 bytes declared, 12 given
             DWORD got = 0;
             bool ok = win.DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, const_cast<uint32_t*>(data), sizeof data,
                                           nullptr, 0, &got, nullptr) != 0;
             win.CloseHandle(h);
             return ok;
         },
         ERROR_INVALID_REPARSE_DATA, "exactly the data it declares"},
    };
    strict::TakeViolations();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rule);
        EXPECT_FALSE(row.call());
        EXPECT_EQ(GetLastError(), row.error);
        std::vector<std::string> found = strict::TakeViolations();
        ASSERT_EQ(found.size(), row.violation ? 1u : 0u);
        if (row.violation) EXPECT_NE(found[0].find(row.violation), std::string::npos) << found[0];
    }
    // A handle left open is listed; every volume reports the sector size the reads are held to.
    HANDLE left = openUnbuffered();
    std::vector<std::string> leaks = strict::Leaks();
    ASSERT_EQ(leaks.size(), 1u);
    EXPECT_NE(leaks[0].find("never closed"), std::string::npos);
    win.CloseHandle(left);
    DWORD perCluster = 0, bytesPerSector = 0, free = 0, total = 0;
    ASSERT_TRUE(win.GetDiskFreeSpaceW(L"C:\\", &perCluster, &bytesPerSector, &free, &total));
    EXPECT_EQ(bytesPerSector, sector);
}

}  // namespace
