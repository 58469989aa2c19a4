#include <gtest/gtest.h>

#include "app/folder_run.h"

TEST(SizeText, UnitsAndRounding) {
    struct Row {
        int64_t bytes;
        bool withUnit;
        const char* text;
    };
    const Row rows[] = {
        {1023, true, "1023 Bytes"}, {5, false, "5"},           {1536, true, "1 KB"},
        {1572864, true, "2 MB"},    {1048575, false, "1023 K"}, {1610612736, true, "2 GB"},
        {(int64_t{3} << 40) + (int64_t{1} << 39), true, "4 TB"},
    };
    for (const Row& row : rows) EXPECT_STREQ(SizeText(row.bytes, row.withUnit), row.text) << row.bytes;
    // Two results live side by side.
    const char* a = SizeText(1, true);
    const char* b = SizeText(2048, true);
    EXPECT_STREQ(a, "1 Bytes");
    EXPECT_STREQ(b, "2 KB");
}
