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

TEST(SetStartOffset, ComparedFromTheOffsetReadFromItsSector) {
    RunState run = {};
    run.setup.SectorSize[0] = 512;
    run.setup.SectorSize[1] = 4096;
    const uint64_t rows[][3] = {{0, 0, 0}, {1000, 1000, 0}, {4096, 4096, 4096}, {0x100000001ull, 0x100000001ull, 0x100000000ull},
                                {UINT64_MAX, UINT64_MAX, UINT64_MAX - 4095}};
    for (const auto& row : rows) {
        SetStartOffset(&run, row[0]);
        EXPECT_EQ(run.setup.StartOffset, row[1]);
        EXPECT_EQ(run.setup.ReadStart, row[2]) << row[0];
    }
}

}  // namespace
