#include "paths/path_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "support/temp_folder.h"

namespace {

const wchar_t kGuid[] = L"\\\\?\\Volume{5a3b0c1e-9d2f-4e6a-8b7c-0123456789ab}";

struct FormCase {
    std::wstring path;
    bool longPrefix, unc, device, wildcards, stream;
    std::wstring display, fileName;  // SkipLongPathPrefix, FileNamePart
};

class PathFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(PathFormTest, IsRecognised) {
    const FormCase& c = GetParam();
    const wchar_t* p = c.path.c_str();
    EXPECT_EQ(HasLongPathPrefix(p), c.longPrefix);
    EXPECT_EQ(IsUncPath(p), c.unc);
    EXPECT_EQ(IsDevicePath(p), c.device);
    EXPECT_EQ(HasWildcards(p), c.wildcards);
    EXPECT_EQ(HasStreamName(p), c.stream);
    EXPECT_EQ(std::wstring(SkipLongPathPrefix(p)), c.display);
    EXPECT_EQ(std::wstring(FileNamePart(p)), c.fileName);
}

INSTANTIATE_TEST_SUITE_P(Forms, PathFormTest, ::testing::Values(
    //        path                                  long   unc    device wild   stream display, file name
    FormCase{L"",                                   false, false, false, false, false, L"", L""},
    FormCase{L"\\",                                 false, false, false, false, false, L"\\", L""},
    FormCase{L"D:",                                 false, false, false, false, false, L"D:", L"D:"},
    FormCase{L"\\\\?\\",                            true,  true,  true,  false, false, L"", L""},
    FormCase{L"\\\\.\\",                            false, true,  true,  false, false, L"\\\\.\\", L""},
    FormCase{L"\\\\?",                              false, false, false, true,  false, L"\\\\?", L"?"},
    FormCase{L"D:\\data\\a.txt",                    false, false, false, false, false, L"D:\\data\\a.txt", L"a.txt"},
    FormCase{L"\\\\?\\D:\\x",                       true,  false, false, false, false, L"D:\\x", L"x"},
    FormCase{L"\\\\?\\D:\\x?",                      true,  false, false, true,  false, L"D:\\x?", L"x?"},
    FormCase{L"D:\\x\\*",                           false, false, false, true,  false, L"D:\\x\\*", L"*"},
    FormCase{L"\\\\?\\D:",                          true,  false, true,  false, false, L"D:", L"D:"},
    FormCase{L"\\\\.\\D:",                          false, false, true,  false, false, L"\\\\.\\D:", L"D:"},
    FormCase{L"\\\\.\\PhysicalDrive0",              false, true,  true,  false, false, L"\\\\.\\PhysicalDrive0", L"PhysicalDrive0"},
    FormCase{L"\\\\server\\share",                  false, true,  false, false, false, L"\\\\server\\share", L"share"},
    FormCase{L"\\\\server",                         false, false, false, false, false, L"\\\\server", L"server"},
    FormCase{L"\\\\?\\UNC\\server\\share\\f",       true,  true,  false, false, false, L"UNC\\server\\share\\f", L"f"},
    FormCase{kGuid,                                 true,  true,  true,  false, false, kGuid + 4, kGuid + 4},
    FormCase{std::wstring(kGuid) + L"\\",           true,  true,  false, false, false, std::wstring(kGuid + 4) + L"\\", L""},
    FormCase{L"D:\\a.txt:ads",                      false, false, false, false, true,  L"D:\\a.txt:ads", L"a.txt:ads"},
    FormCase{L"\\\\?\\D:\\a.txt:ads",               true,  false, false, false, true,  L"D:\\a.txt:ads", L"a.txt:ads"},
    // A stream on a share is still on the share.
    FormCase{L"\\\\server\\share\\a.txt:ads",       false, true,  false, false, true,  L"\\\\server\\share\\a.txt:ads", L"a.txt:ads"},
    FormCase{L"\\\\server\\sh:are\\a.txt",          false, false, false, false, true,  L"\\\\server\\sh:are\\a.txt", L"a.txt"}));

TEST(AppendCharIfMissing, AppendsOnlyWhenMissing) {
    struct { const wchar_t* before; const wchar_t* after; } cases[] = {
        {L"", L"\\"}, {L"\\", L"\\"}, {L"D:", L"D:\\"}, {L"D:\\x", L"D:\\x\\"}, {L"D:\\x\\", L"D:\\x\\"}};
    for (const auto& c : cases) {
        PathBuffer path;
        wcscpy(path, c.before);
        EXPECT_TRUE(AppendCharIfMissing(path, L'\\'));
        EXPECT_STREQ(path, c.after) << c.before;
    }
}

// The buffer is followed by guard characters that no call may touch.
constexpr size_t kGuard = 8;
constexpr wchar_t kGuardChar = 0xFDFD;

std::vector<wchar_t> Filled(size_t length, wchar_t last) {
    std::vector<wchar_t> buffer(kPathChars + kGuard, kGuardChar);
    std::fill(buffer.begin(), buffer.begin() + length, L'a');
    if (length > 0) buffer[length - 1] = last;
    buffer[length] = 0;
    return buffer;
}

bool GuardIntact(const std::vector<wchar_t>& buffer, size_t capacity) {
    for (size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != kGuardChar) return false;
    return true;
}

TEST(AppendCharIfMissing, StaysWithinTheLongestPath) {
    auto fits = Filled(kPathChars - 2, L'a');
    EXPECT_TRUE(AppendCharIfMissing(fits.data(), L'\\'));
    EXPECT_EQ(wcslen(fits.data()), size_t{kPathChars - 1});

    auto full = Filled(kPathChars - 1, L'a');
    SetLastError(0);
    EXPECT_FALSE(AppendCharIfMissing(full.data(), L'\\'));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILENAME_EXCED_RANGE});
    EXPECT_EQ(wcslen(full.data()), size_t{kPathChars - 1});
    EXPECT_TRUE(GuardIntact(full, kPathChars));

    auto ends = Filled(kPathChars - 1, L'\\');
    EXPECT_TRUE(AppendCharIfMissing(ends.data(), L'\\'));
    EXPECT_TRUE(GuardIntact(ends, kPathChars));

    wchar_t small[2] = {0, kGuardChar};
    EXPECT_FALSE(AppendCharIfMissing(small, L'\\', 1));
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[1], kGuardChar);
}

TEST(RemoveTrailingChar, RemovesOneOnly) {
    struct { const wchar_t* before; const wchar_t* after; } cases[] = {
        {L"", L""}, {L"\\", L""}, {L"D:\\x\\\\", L"D:\\x\\"}, {L"D:\\x", L"D:\\x"}};
    for (const auto& c : cases) {
        PathBuffer path;
        wcscpy(path, c.before);
        RemoveTrailingChar(path, L'\\');
        EXPECT_STREQ(path, c.after) << c.before;
    }
}

TEST(CaseInsensitiveAffixes, MatchOnlyAtTheirEnd) {
    struct { const wchar_t* text; const wchar_t* affix; int starts; int ends; } cases[] = {
        // -1: no match; otherwise the offset of the match.
        {L"\\\\.\\PhysicalDrive1", L"\\\\.\\", 0, -1},
        {L"\\\\?\\volume{X}", L"\\\\?\\Volume{", 0, -1},
        {L"x\\\\.\\", L"\\\\.\\", -1, 1},
        {L"Z:\\tmp\\dir.", L".", -1, 10},
        {L"Z:\\TMP\\DIR.TXT", L"dir.txt", -1, 7},
        {L"a.b.", L"b", -1, -1},
        {L"..", L".", 0, 1},
        {L"\u00c9cole", L"\u00e9COLE", 0, 0},
        {L"ab", L"abc", -1, -1},
        {L"", L"a", -1, -1},
        {L"a", L"", -1, -1},
    };
    for (const auto& c : cases) {
        const wchar_t* starts = StartsWithNoCase(c.text, c.affix);
        const wchar_t* ends = EndsWithNoCase(c.text, c.affix);
        EXPECT_EQ(starts ? starts - c.text : -1, c.starts) << c.text << L" / " << c.affix;
        EXPECT_EQ(ends ? ends - c.text : -1, c.ends) << c.text << L" / " << c.affix;
    }
}

TEST(IsExistingFolder, AsksTheFileSystem) {
    TempFolder temp;
    std::wstring file = temp.Write(L"f.bin", "x");
    std::wstring deep = L"\\\\?\\" + temp.path();
    for (int i = 0; i < 12; ++i) {
        deep += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    EXPECT_TRUE(IsExistingFolder(temp.path().c_str()));
    EXPECT_TRUE(IsExistingFolder((temp.path() + L"\\").c_str()));
    EXPECT_TRUE(IsExistingFolder(deep.c_str()));
    EXPECT_GT(deep.size(), size_t{MAX_PATH});
    EXPECT_FALSE(IsExistingFolder(file.c_str()));
    EXPECT_FALSE(IsExistingFolder(temp.File(L"missing").c_str()));
    EXPECT_FALSE(IsExistingFolder(L""));
}

}  // namespace
