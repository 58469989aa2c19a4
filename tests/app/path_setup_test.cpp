#include "app/path_setup.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MakeFolderMask, EveryFolderFormGetsItsStar) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L"\\*"},
        {L"\\", L"\\*"},
        {L"x", L"x"},  // a single character other than a backslash stays
        {L"C:", L"C:\\*"},
        {L"C:\\", L"C:\\*"},
        {L"\\\\?\\C:\\data", L"\\\\?\\C:\\data\\*"},
        {L"\\\\?\\C:\\data\\", L"\\\\?\\C:\\data\\*"},
    };
    for (const Case& c : cases) {
        wchar_t path[64];
        wcscpy(path, c.in);
        MakeFolderMask(path, 64);
        EXPECT_STREQ(path, c.out);
    }
    // A path that fills its buffer is left as it is.
    wchar_t full[5] = L"abcd";
    MakeFolderMask(full, 5);
    EXPECT_STREQ(full, L"abcd");
}

TEST(RoundUp64, StartOffsetsToWholeSectors) {
    EXPECT_EQ(RoundUp64(0, 512), 0u);
    EXPECT_EQ(RoundUp64(1000, 512), 1024u);
    EXPECT_EQ(RoundUp64(1000, 4096), 4096u);
    EXPECT_EQ(RoundUp64(4096, 4096), 4096u);
    EXPECT_EQ(RoundUp64(0x100000001ull, 512), 0x100000200ull);
}

}  // namespace
