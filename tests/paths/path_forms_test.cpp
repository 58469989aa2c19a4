#include "paths/path_forms.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "support/seam.h"
#include "support/temp_folder.h"
#include "support/volume_scenario.h"

namespace {

const std::wstring kGuid = L"\\\\?\\Volume{5a3b0c1e-9d2f-4e6a-8b7c-0123456789ab}";

TEST(AddLongPathPrefix, PrefixesOnlyDrivePaths) {
    struct { std::wstring before, after; } cases[] = {
        {L"D:\\data", L"\\\\?\\D:\\data"},
        {L"D:", L"\\\\?\\D:"},
        {L"\\\\?\\D:\\data", L"\\\\?\\D:\\data"},
        {L"\\\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"\\\\server\\share\\f.txt:s", L"\\\\server\\share\\f.txt:s"},
        {L"\\\\.\\PhysicalDrive1", L"\\\\.\\PhysicalDrive1"},
        {L"\\\\.\\D:", L"\\\\.\\D:"},
        {kGuid + L"\\", kGuid + L"\\"},
    };
    for (const auto& c : cases) {
        PathBuffer path;
        wcscpy(path, c.before.c_str());
        EXPECT_TRUE(AddLongPathPrefix(path));
        EXPECT_EQ(std::wstring(path), c.after);
    }
}

TEST(AddLongPathPrefix, FailsUntouchedWhenThePrefixedPathWouldNotFit) {
    for (size_t length : {size_t{kPathChars - 5}, size_t{kPathChars - 4}}) {
        std::vector<wchar_t> buffer(kPathChars + 8, 0xFDFD);
        std::wstring path = L"D:\\" + std::wstring(length - 3, L'a');
        wcscpy(buffer.data(), path.c_str());
        bool fits = length + 4 <= kPathChars - 1;
        SetLastError(0);
        EXPECT_EQ(AddLongPathPrefix(buffer.data()), fits) << length;
        EXPECT_EQ(std::wstring(buffer.data()), fits ? L"\\\\?\\" + path : path);
        if (!fits) {
            EXPECT_EQ(GetLastError(), DWORD{ERROR_FILENAME_EXCED_RANGE});
        }
        for (size_t i = kPathChars; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xFDFD);
    }
}

TEST(VolumeGuidToDevicePath, ChangesOnlyABareVolumeName) {
    std::wstring lower = kGuid;
    lower.replace(4, 6, L"volume");
    std::wstring badDash = kGuid;
    badDash[19] = L'x';
    struct { std::wstring before; bool changed; } cases[] = {
        {kGuid, true}, {lower, true}, {kGuid + L"\\", false}, {kGuid.substr(0, 47), false},
        {badDash, false}, {L"\\\\.\\" + kGuid.substr(4), false}, {L"", false}, {L"\\\\?\\", false},
    };
    for (const auto& c : cases) {
        PathBuffer path;
        wcscpy(path, c.before.c_str());
        EXPECT_EQ(VolumeGuidToDevicePath(path), c.changed) << c.before;
        std::wstring expected = c.before;
        if (c.changed) expected[2] = L'.';
        EXPECT_EQ(std::wstring(path), expected);
    }
}

struct Split {
    bool ok;
    std::wstring folder, mask;
};

Split SplitOf(const std::wstring& path, size_t folderCapacity = kPathChars) {
    std::vector<wchar_t> folder(kPathChars, L'#'), mask(kPathChars, L'#');
    folder[kPathChars - 1] = mask[kPathChars - 1] = 0;
    bool ok = SplitFolderAndMask(path.c_str(), folder.data(), mask.data(), folderCapacity, kPathChars);
    return {ok, folder.data(), mask.data()};
}

TEST(SplitFolderAndMask, SplitsRealPaths) {
    TempFolder temp;
    const std::wstring& t = temp.path();
    std::wstring file = temp.Write(L"a.txt", "x");
    struct { std::wstring path, folder, mask; } cases[] = {
        {L"\\\\?\\" + t + L"\\*.bin", L"\\\\?\\" + t + L"\\", L"*.bin"},
        {file, L"\\\\?\\" + t + L"\\", L"a.txt"},
        {t + L"\\missing.txt", L"\\\\?\\" + t + L"\\", L"missing.txt"},
        {t, t + L"\\", L""},
        {t + L"\\", t + L"\\", L""},
        {L"\\\\?\\" + t, L"\\\\?\\" + t + L"\\", L""},
        {L"\\\\.\\PhysicalDrive0", L"\\\\.\\PhysicalDrive0", L""},
        {L"\\\\.\\D:", L"\\\\.\\D:", L""},
    };
    for (const auto& c : cases) {
        Split s = SplitOf(c.path);
        EXPECT_TRUE(s.ok) << c.path;
        EXPECT_EQ(s.folder, c.folder) << c.path;
        EXPECT_EQ(s.mask, c.mask) << c.path;
    }
}

TEST(SplitFolderAndMask, NoBackslashFailsWithOutputsUntouched) {
    VolumeScenario scenario;
    ScenarioGuard guard(scenario);
    for (const wchar_t* path : {L"a.txt", L"", L"D:"}) {
        Split s = SplitOf(path);
        EXPECT_FALSE(s.ok) << path;
        EXPECT_EQ(s.folder, std::wstring(kPathChars - 1, L'#'));
        EXPECT_EQ(s.mask, std::wstring(kPathChars - 1, L'#'));
    }
}

TEST(SplitFolderAndMask, KeepsUncFoldersAsTheyAre) {
    VolumeScenario scenario;  // nothing exists: Wine is not asked about the network
    ScenarioGuard guard(scenario);
    Split s = SplitOf(L"\\\\server\\share\\x.bin");
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.folder, L"\\\\server\\share\\");
    EXPECT_EQ(s.mask, L"x.bin");
}

TEST(SplitFolderAndMask, FolderAtTheLongestPath) {
    VolumeScenario scenario;
    ScenarioGuard guard(scenario);
    // "\\?\" + "D:\" + name + "\" is 32767 characters exactly; one more does not fit.
    std::wstring name(kPathChars - 1 - 8, L'n');
    Split fits = SplitOf(L"D:\\" + name + L"\\m");
    EXPECT_TRUE(fits.ok);
    EXPECT_EQ(fits.folder.size(), size_t{kPathChars - 1});
    EXPECT_FALSE(SplitOf(L"D:\\" + name + L"n\\m").ok);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILENAME_EXCED_RANGE});
    // A small folder buffer: the folder and its terminator exactly, then one character less.
    EXPECT_TRUE(SplitOf(L"D:\\d\\m", 10).ok);
    EXPECT_FALSE(SplitOf(L"D:\\d\\m", 9).ok);
}

}  // namespace
