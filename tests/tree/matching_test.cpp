// Name matching, exclude masks and the string helpers of the folder walk and the link handling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/types.h"
#include "tree/exclude_masks.h"
#include "tree/reparse_points.h"
#include "tree/tree_strings.h"
#include "tree/wildcard.h"

namespace {

struct MatchCase {
    const wchar_t* name;
    const wchar_t* mask;
    bool matches;
};

TEST(WildcardMatch, Table) {
    const MatchCase cases[] = {
        {L"", L"*", true},
        {L"", L"a", false},
        {L"a", L"", false},
        {L"xyz", L"x?z", true},
        {L"XYZ", L"x?z", true},
        {L"xz", L"x?z", false},
        {L"xyzz", L"x?z", false},
        {L"xaxb", L"*a*b", true},
        {L"ab", L"*a*b", true},
        {L"xba", L"*a*b", false},
        {L"abc d", L"abc", false},
        {L"abc", L"abc d", false},
        {L"a.TMP", L"*.tmp", true},
        {L"a.tm", L"*.tmp", false},
        {L"@", L"`", false},
        {L"[", L"{", false},
        {L"abab", L"*ab", true},
        {L"aXbXc", L"a*b*c", true},
        {L"ab", L"ab**", true},
        {L"d\\x", L"d\\*", true},
        {L"x", L"d\\*", false},
        {L"mississippi", L"*sip*", true},
        {L"abc", L"a*c*", true},
        {L"abd", L"a*c", false},
        // Case folds as the file system folds it: beyond Latin-1 too, and never between CJK
        // characters that differ in bit 0x20, nor the division sign with the multiplication sign.
        {L"\u4e20.txt", L"\u4e00.txt", false},
        {L"\u0436", L"\u0416", true},
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", true},
        {L"\u00f7", L"\u00d7", false},
        // "*.*" is every file, and a mask ending in ".*" also takes the name without extension.
        {L"Makefile", L"*.*", true},
        {L"", L"*.*", true},
        {L"a.b", L"*.*", true},
        {L"readme", L"read*.*", true},
        {L"a", L"a.*", true},
        {L"ab", L"a.*", false},
        {L"ax", L"*x.*", true},
        {L"a.", L"*.", true},
        {L"a", L"a*.*", true},
        {L"ab", L"ab*.*", true},
        {L"ba", L"*a*.*", true},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(WildcardMatch(c.name, c.mask), c.matches)
            << std::string(c.name, c.name + wcslen(c.name)) << " / " << std::string(c.mask, c.mask + wcslen(c.mask));
    }
}

class ExcludeTable : public ::testing::Test {
protected:
    void TearDown() override {
        for (wchar_t*& slot : ExcludeMasks) {
            FreeBlock(slot);
            slot = nullptr;
        }
    }
};

TEST_F(ExcludeTable, MasksInOrderQuotesRemovedAndTheTableFull) {
    EXPECT_FALSE(IsExcluded(L"anything"));
    EXPECT_TRUE(AddExcludeMask(L"*.tmp"));
    EXPECT_TRUE(AddExcludeMask(L"\"x y\""));
    EXPECT_TRUE(IsExcluded(L"A.TMP"));
    EXPECT_TRUE(IsExcluded(L"x y"));
    EXPECT_FALSE(IsExcluded(L"x"));
    for (int i = 2; i < kMaxExcludeMasks; ++i) EXPECT_TRUE(AddExcludeMask(L"never"));
    EXPECT_FALSE(AddExcludeMask(L"*"));
    EXPECT_FALSE(IsExcluded(L"other"));
}

TEST(ReplaceAllNoCase, KeepsTheCaseOfTheRest) {
    static PathBuffer text;
    wcscpy(text, L"AbCab");
    EXPECT_EQ(ReplaceAllNoCase(text, L"ab", L"x"), 2);
    EXPECT_STREQ(text, L"xCx");
    wcscpy(text, L"\\??\\Z:\\Tree1\\sub");
    EXPECT_EQ(ReplaceAllNoCase(text, L"z:\\tree1\\", L"C:\\t2\\"), 1);
    EXPECT_STREQ(text, L"\\??\\C:\\t2\\sub");
    // Replacing stops before the result would reach the limit; the rest stays as it was.
    wcscpy(text, std::wstring(20000, L'a').c_str());
    EXPECT_EQ(ReplaceAllNoCase(text, L"a", L"bb"), 12767);
    EXPECT_EQ(wcslen(text), 32767u);
    EXPECT_EQ(text[32766], L'a');
}

TEST(TreeStrings, JoinDuplicateAndDisplayForms) {
    wchar_t* joined = JoinStrings(L"\\\\?\\Z:\\t2\\", L"sub", L"\\", L"", L"never");
    EXPECT_STREQ(joined, L"\\\\?\\Z:\\t2\\sub\\");
    FreeBlock(joined);
    wchar_t* copy = DuplicateStringWithRoom(nullptr, 3);
    EXPECT_STREQ(copy, L"");
    FreeBlock(copy);
    EXPECT_STREQ(RelativeToBase(L"\\\\?\\Z:\\t1\\a\\b", L"\\\\?\\Z:\\t1\\"), L"a\\b");
    EXPECT_STREQ(RelativeToBase(L"\\\\?\\Z:\\other\\b", L"\\\\?\\Z:\\t1\\"), L"Z:\\other\\b");
    EXPECT_STREQ(RelativeToBase(L"\\\\?\\Z:\\T1\\b", L"\\\\?\\Z:\\t1\\"), L"Z:\\T1\\b");
}

TEST(LinkDriveLetter, Forms) {
    EXPECT_EQ(LinkDriveLetter(L"\\??\\D:\\x"), L'D');
    EXPECT_EQ(LinkDriveLetter(L"\\\\?\\e:\\x"), L'e');
    EXPECT_EQ(LinkDriveLetter(L"F:\\x"), L'F');
    EXPECT_EQ(LinkDriveLetter(L"\\\\?\\UNC\\srv\\share"), 0);
    EXPECT_EQ(LinkDriveLetter(L"..\\x"), 0);
}

// Reparse data in the system's layout, built field by field so a row can break any of them.
struct RawLink {
    uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
    int dataLengthDelta = 0;  // added to the true data length
    uint16_t subOffset = 0, subLength = 0, printOffset = 0, printLength = 0;
    bool fixLengths = true;
};

std::vector<uint8_t> BuildRaw(const RawLink& raw, const std::wstring& sub, const std::wstring& print) {
    uint32_t namesAt = raw.tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    std::vector<uint8_t> data(namesAt + (sub.size() + print.size() + 2) * 2, 0);
    uint16_t f[4] = {raw.subOffset, raw.subLength, raw.printOffset, raw.printLength};
    if (raw.fixLengths) {
        f[0] = 0;
        f[1] = static_cast<uint16_t>(sub.size() * 2);
        f[2] = static_cast<uint16_t>((sub.size() + 1) * 2);
        f[3] = static_cast<uint16_t>(print.size() * 2);
    }
    memcpy(data.data(), &raw.tag, 4);
    uint16_t length = static_cast<uint16_t>(static_cast<int>(data.size()) - 8 + raw.dataLengthDelta);
    memcpy(data.data() + 4, &length, 2);
    memcpy(data.data() + 8, f, 8);
    memcpy(data.data() + namesAt, sub.data(), sub.size() * 2);
    memcpy(data.data() + namesAt + (sub.size() + 1) * 2, print.data(), print.size() * 2);
    return data;
}

TEST(ParseLinkData, AcceptsBothKindsAndRejectsWhatReachesOutside) {
    struct Row {
        const char* what;
        RawLink raw;
        bool valid;
    };
    const Row rows[] = {
        {"junction", {}, true},
        {"symbolic link", {IO_REPARSE_TAG_SYMLINK}, true},
        {"another tag", {0x80000021u}, false},
        {"data length beyond the bytes", {IO_REPARSE_TAG_MOUNT_POINT, 2}, false},
        {"data length shorter than the names", {IO_REPARSE_TAG_MOUNT_POINT, -30}, false},
        {"substitute name beyond the data", {IO_REPARSE_TAG_MOUNT_POINT, 0, 40, 10, 0, 2, false}, false},
        {"print name length beyond the data", {IO_REPARSE_TAG_MOUNT_POINT, 0, 0, 2, 4, 0xFFFE, false}, false},
        {"offset near the 16-bit limit", {IO_REPARSE_TAG_SYMLINK, 0, 0xFFFE, 2, 0, 2, false}, false},
        {"odd length", {IO_REPARSE_TAG_MOUNT_POINT, 0, 0, 3, 0, 2, false}, false},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> data = BuildRaw(row.raw, L"\\??\\D:\\target", L"D:\\target");
        LinkData link{};
        EXPECT_EQ(ParseLinkData(data.data(), static_cast<uint32_t>(data.size()), &link), row.valid) << row.what;
        if (row.valid) {
            EXPECT_EQ(std::wstring(link.substitute, link.substituteChars), L"\\??\\D:\\target");
            EXPECT_EQ(std::wstring(link.printName, link.printChars), L"D:\\target");
        }
    }
    std::vector<uint8_t> data = BuildRaw({}, L"\\??\\D:\\t", L"D:\\t");
    LinkData link{};
    EXPECT_FALSE(ParseLinkData(data.data(), 7, &link));   // shorter than the header
    EXPECT_FALSE(ParseLinkData(data.data(), 20, &link));  // names cut off by the bytes returned
}

}  // namespace
