#include "paths/volume_roots.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win_api.h"
#include "platform/windows.h"
#include "support/seam.h"
#include "support/temp_folder.h"
#include "support/volume_scenario.h"

namespace {

const wchar_t kLanman[] = L"\\Device\\LanmanRedirector\\;L:0000000000034a1f\\server\\share";

VolumeScenario DriveLetters() {
    VolumeScenario s;
    s.dosDevices = {
        {L"S:", L"\\??\\E:\\Data"},
        {L"T:", L"\\??\\C:\\"},
        {L"U:", L"\\??\\UNC\\server\\share"},
        {L"L:", kLanman},
        {L"W:", L"\\Device\\NetWareRedirector\\W:0000abcd\\server\\vol"},
        {L"V:", L"\\Device\\VBoxMiniRdr\\;V:\\vboxsvr\\share"},
        {L"M:", L"\\device\\lanmanredirector\\;M:0\\server\\share"},
        {L"B:", L"\\Device\\LanmanRedirector\\;B:0000"},
        {L"D:", L"\\Device\\HarddiskVolume3"},
    };
    return s;
}

std::optional<std::wstring> Resolve(const std::wstring& path, size_t capacity = kPathChars) {
    std::vector<wchar_t> out(capacity + 8, 0xFDFD);
    bool ok = ResolveDrivePath(path.c_str(), out.data(), capacity);
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xFDFD) << "written beyond the buffer";
    if (!ok) {
        EXPECT_EQ(out[0], 0);
        return std::nullopt;
    }
    return std::wstring(out.data());
}

TEST(ResolveDrivePath, ReplacesSubstitutedAndNetworkLetters) {
    VolumeScenario scenario = DriveLetters();
    ScenarioGuard guard(scenario);
    struct { std::wstring path, resolved; } cases[] = {
        {L"\\\\?\\S:\\sub\\f.txt", L"E:\\Data\\sub\\f.txt"},
        {L"S:\\", L"E:\\Data\\"},
        {L"S:", L"E:\\Data"},
        {L"T:\\dir", L"C:\\dir"},  // substituted to a root: one backslash, not two
        {L"T:\\", L"C:\\"},
        {L"U:\\dir", L"\\\\server\\share\\dir"},
        {L"\\\\?\\L:\\dir\\f", L"\\\\server\\share\\dir\\f"},
        {L"W:\\dir", L"\\\\server\\vol\\dir"},
        {L"V:\\dir", L"\\\\vboxsvr\\share\\dir"},
        {L"M:\\dir", L"M:\\dir"},  // the redirector names are matched in exact case
        {L"B:\\dir", L"B:\\dir"},  // no share behind the redirector's text
        {L"\\\\?\\D:\\dir", L"D:\\dir"},
        {L"Q:\\x", L"Q:\\x"},
        {L"\\\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"", L""},
        {L"\\\\?\\", L""},
        {L"\\", L"\\"},
        {L"D", L"D"},
    };
    for (const auto& c : cases) EXPECT_EQ(Resolve(c.path), c.resolved) << c.path;
}

TEST(ResolveDrivePath, AnswerThatFillsTheBufferIsNoAnswer) {
    VolumeScenario scenario;
    std::wstring longest = L"\\??\\E:\\" + std::wstring(kDosDeviceChars - 2 - 7, L'd');
    scenario.dosDevices = {{L"S:", longest}};
    ScenarioGuard guard(scenario);
    EXPECT_EQ(Resolve(L"S:\\x"), longest.substr(4) + L"\\x");
    scenario.dosDevicesFillBuffer = true;
    EXPECT_EQ(Resolve(L"S:\\x"), L"S:\\x");
    scenario.dosDevices = {{L"L:", kLanman}};
    EXPECT_EQ(Resolve(L"L:\\x"), L"L:\\x");
}

TEST(ResolveDrivePath, FailsWhenTheResultDoesNotFit) {
    VolumeScenario scenario = DriveLetters();
    ScenarioGuard guard(scenario);
    std::wstring longest = L"S:\\" + std::wstring(kPathChars - 1 - 3, L'a');
    SetLastError(0);
    EXPECT_EQ(Resolve(longest), std::nullopt);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILENAME_EXCED_RANGE});
    EXPECT_EQ(Resolve(L"\\\\?\\Q:\\" + std::wstring(kPathChars - 1 - 3, L'a'))->size(), size_t{kPathChars - 1});
    EXPECT_EQ(Resolve(L"\\\\?\\S:\\x", 10), L"E:\\Data\\x");
    EXPECT_EQ(Resolve(L"\\\\?\\S:\\x", 9), std::nullopt);
    EXPECT_EQ(Resolve(L"\\\\?\\Q:\\x", 5), L"Q:\\x");
    EXPECT_EQ(Resolve(L"\\\\?\\Q:\\x", 4), std::nullopt);
}

TEST(ResolveDrivePath, LocalDrivesUnderWine) {
    TempFolder temp;
    EXPECT_EQ(Resolve(L"\\\\?\\" + temp.path()), temp.path());
    EXPECT_EQ(Resolve(L"\\\\?\\Z:\\tmp"), L"Z:\\tmp");
}

std::optional<std::wstring> RootOf(const std::wstring& path, size_t capacity = MAX_PATH) {
    std::vector<wchar_t> out(capacity + 8, 0xFDFD);
    bool ok = VolumeRootOf(path.c_str(), out.data(), capacity);
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xFDFD) << "written beyond the buffer";
    return ok ? std::optional<std::wstring>(out.data()) : std::nullopt;
}

TEST(VolumeRootOf, FindsNetworkRootsAndMountFolders) {
    VolumeScenario scenario;
    scenario.attributes = {{L"D:\\", 0x10}, {L"E:\\", 0x10}, {L"N:\\", 0x10}, {L"F:\\", 0x20}};
    scenario.driveTypes = {{L"D:\\", DRIVE_FIXED}, {L"N:\\", DRIVE_REMOTE}};
    scenario.volumes = {{L"D:\\", 0}, {L"D:\\mnt\\vol\\", 0}, {L"\\\\server\\share\\", 0}};
    ScenarioGuard guard(scenario);
    struct { std::wstring path; std::optional<std::wstring> volumePath, root; } cases[] = {
        {L"N:\\dir\\f", std::nullopt, L"N:\\"},
        {L"D:\\mnt\\vol\\sub\\deeper\\f", L"D:\\mnt\\vol\\sub\\deeper\\", L"D:\\mnt\\vol\\"},
        {L"D:\\mnt\\vol\\sub\\f", L"D:\\mnt\\vol\\sub", L"D:\\mnt\\vol\\"},
        {L"D:\\mnt\\other\\f", L"D:\\mnt\\other\\", L"D:\\"},
        {L"D:\\x", std::nullopt, L"D:\\"},
        {L"\\\\server\\share\\dir\\f", std::nullopt, L"\\\\server\\share\\"},
        {L"E:\\x", std::nullopt, L"E:\\"},        // no volume path, but the root is a folder
        {L"F:\\x", std::nullopt, std::nullopt},  // nor is a root that is a file
        {L"Q:\\x", std::nullopt, std::nullopt},
        {L"\\\\other\\share\\x", std::nullopt, std::nullopt},
        {L"D:\\a\\b\\", L"D:\\a\\b\\", L"D:\\"},
        {L"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        scenario.volumePath = c.volumePath;
        EXPECT_EQ(RootOf(c.path), c.root) << c.path;
    }
    scenario.volumePathCalls = 0;
    EXPECT_EQ(RootOf(L"N:\\x", 4), L"N:\\");
    EXPECT_EQ(RootOf(L"N:\\x", 3), std::nullopt);
    EXPECT_EQ(scenario.volumePathCalls, 0) << "a network root is not asked for its volume";
}

TEST(VolumeRootOf, StopsAtTheFirstRealFailure) {
    VolumeScenario scenario;
    scenario.attributes = {{L"D:\\", 0x10}};
    scenario.volumePath = L"D:\\a\\b\\";
    ScenarioGuard guard(scenario);
    EXPECT_EQ(RootOf(L"D:\\a\\b\\c"), std::nullopt);  // every level is no root: the walk ends
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DIR_NOT_ROOT});
    scenario.notRootError = ERROR_NOT_READY;
    EXPECT_EQ(RootOf(L"D:\\a\\b\\c"), std::nullopt);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_READY});
}

TEST(VolumeRootOf, RealDrivesUnderWine) {
    TempFolder temp;
    EXPECT_EQ(RootOf(temp.path() + L"\\sub\\f"), temp.path().substr(0, 3));
    EXPECT_EQ(RootOf(L"Q:\\x"), std::nullopt);
}

bool Exists(const std::wstring& path) { return SourceFileExists(path.c_str()); }

// A folder under `path` whose path is exactly `length` characters long.
std::wstring FolderOfLength(std::wstring path, size_t length) {
    while (path.size() < length) {
        size_t room = length - path.size() - 1;
        size_t segment = room > 120 ? (room - 120 < 2 ? 60 : 120) : room;
        path += L"\\" + std::wstring(segment, L'f');
        EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    }
    return path;
}

// Volume flags through a handle to the root where the system has the call (no label read), the
// classic call where it has not or the handle call fails; the answer is the same.
TEST(ReadVolumeFlags, ByHandleWhereItCanElseTheClassicCall) {
    static int classic;
    SeamOverride counted(
        win.GetVolumeInformationW,
        +[](LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD serial, LPDWORD longest, LPDWORD flags, LPWSTR fs,
            DWORD fsChars) -> BOOL {
            ++classic;
            return ::GetVolumeInformationW(root, label, labelChars, serial, longest, flags, fs, fsChars);
        });
    struct {
        bool lookupFails, openFails;
        int classicCalls;
    } rows[] = {{false, false, 0}, {true, false, 1}, {false, true, 1}};
    DWORD expected = 0;
    ASSERT_TRUE(::GetVolumeInformationW(L"Z:\\", nullptr, 0, nullptr, nullptr, &expected, nullptr, 0));
    for (const auto& row : rows) {
        classic = 0;
        std::optional<SeamOverride<decltype(win.GetProcAddress)>> lookup;
        std::optional<SeamOverride<decltype(win.CreateFileW)>> open;
        if (row.lookupFails) lookup.emplace(win.GetProcAddress, +[](HMODULE, LPCSTR) -> FARPROC { return nullptr; });
        if (row.openFails) {
            open.emplace(
                win.CreateFileW, +[](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
                    ::SetLastError(ERROR_ACCESS_DENIED);
                    return INVALID_HANDLE_VALUE;
                });
        }
        DWORD flags = 0, longest = 0;
        wchar_t fs[32] = {};
        EXPECT_TRUE(ReadVolumeFlags(L"Z:\\", &flags, &longest, fs, 32));
        EXPECT_EQ(flags, expected);
        EXPECT_GT(longest, 0u);
        EXPECT_NE(fs[0], 0);
        EXPECT_EQ(classic, row.classicCalls) << row.lookupFails << row.openFails;
    }
}

TEST(SourceFileExists, RealFilesFoldersAndDevices) {
    TempFolder temp;
    std::wstring file = temp.Write(L"a.bin", "x");
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(Exists(L"\"" + file + L"\""));
    EXPECT_TRUE(Exists(temp.path()));
    EXPECT_FALSE(Exists(temp.File(L"missing.bin")));
    EXPECT_TRUE(Exists(L"\\\\.\\NUL"));
    EXPECT_FALSE(Exists(L"\\\\.\\PhysicalDrive9"));
    EXPECT_FALSE(Exists(L""));
}

TEST(SourceFileExists, LongPathsAreTestedWhole) {
    TempFolder temp;
    // The first MAX_PATH - 1 characters name an existing folder: a path cut there would exist.
    std::wstring folder = FolderOfLength(L"\\\\?\\" + temp.path(), MAX_PATH - 1);
    ASSERT_EQ(folder.size(), size_t{MAX_PATH - 1});
    EXPECT_FALSE(Exists(folder + L"\\missing.bin"));
    std::wstring deep = FolderOfLength(folder, 2000);
    HANDLE file = CreateFileW((deep + L"\\f.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(Exists(deep + L"\\f.bin"));
    EXPECT_FALSE(Exists(deep + L"\\g.bin"));
}

TEST(SourceFileExists, StreamsNeedAVolumeWithNamedStreams) {
    VolumeScenario scenario;
    scenario.attributes = {{L"D:\\a.txt:ads", 0x20}, {L"\\\\?\\D:\\a.txt:ads", 0x20}, {L"D:\\a.txt", 0x20}};
    scenario.volumes = {{L"D:\\", 0}, {L"\\\\?\\D:\\", 0}};
    ScenarioGuard guard(scenario);
    EXPECT_FALSE(Exists(L"D:\\a.txt:ads"));
    EXPECT_FALSE(Exists(L"\\\\?\\D:\\a.txt:ads"));
    EXPECT_TRUE(Exists(L"D:\\a.txt"));
    scenario.volumes = {{L"D:\\", FILE_NAMED_STREAMS}, {L"\\\\?\\D:\\", FILE_NAMED_STREAMS}};
    EXPECT_TRUE(Exists(L"D:\\a.txt:ads"));
    EXPECT_TRUE(Exists(L"\\\\?\\D:\\a.txt:ads"));
}

TEST(SourceFileExists, AccessDeniedCountsAsExisting) {
    VolumeScenario scenario;
    ScenarioGuard guard(scenario);
    scenario.attributesError = ERROR_ACCESS_DENIED;
    EXPECT_TRUE(Exists(L"D:\\locked.bin"));
    scenario.attributesError = ERROR_PATH_NOT_FOUND;
    EXPECT_FALSE(Exists(L"D:\\locked.bin"));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

}  // namespace
