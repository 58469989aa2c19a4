#include "compare/diff_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/run_options.h"
#include "console/control_handler.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"

namespace {

struct Listing {
    uint32_t count;
    std::string out;
};

Listing Diff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t length, uint64_t offset = 0) {
    OutputCapture capture(false, false);
    Listing listing;
    listing.count = DiffBlock(a.data(), b.data(), length, offset, TestRun().pair.CompareLength);
    listing.out = capture.streams.outBytes;
    return listing;
}

class DiffBlockTest : public ::testing::Test {
protected:
    void SetUp() override { TestRun().pair.CompareLength = 1 << 20; }
    PairSetup setup;
};

TEST_F(DiffBlockTest, EqualBlocksAndBytesBeyondTheLength) {
    std::vector<uint8_t> a(64, 7), b(64, 7);
    EXPECT_EQ(Diff(a, b, 64).count, 0u);
    EXPECT_EQ(Diff(a, b, 64).out, "");
    b[6] = 0;  // beyond a length of 5, and inside the same word
    Listing l = Diff(a, b, 5);
    EXPECT_EQ(l.count, 0u);
    EXPECT_EQ(l.out, "");
    EXPECT_EQ(Diff(a, b, 7).count, 1u);
}

TEST_F(DiffBlockTest, LinesAtWordAndChunkEdgesWithTheBlockOffset) {
    std::vector<uint8_t> a(10000, 0), b(10000, 0);
    for (uint32_t at : {0u, 7u, 8u, 4095u, 4096u, 9999u}) b[at] = 0xFF;
    a[9999] = 0x0A;
    Listing l = Diff(a, b, 10000, 0xA1F0);
    EXPECT_EQ(l.count, 6u);
    EXPECT_EQ(l.out,
              "\r0000A1F0: 00 FF\r\n"
              "\r0000A1F7: 00 FF\r\n"
              "\r0000A1F8: 00 FF\r\n"
              "\r0000B1EF: 00 FF\r\n"
              "\r0000B1F0: 00 FF\r\n"
              "\r0000C8FF: 0A FF\r\n");
}

TEST_F(DiffBlockTest, OffsetWidthFollowsTheEndOfTheComparedRange) {
    struct Case {
        uint64_t compareLength;
        uint64_t offset;
        const char* line;
    } cases[] = {
        {0xFFFFFFFFull, 0x12, "\r00000012: 01 02\r\n"},
        {0x100000000ull, 0x12, "\r000000000012: 01 02\r\n"},  // every line of a pair beyond 4 GiB
        {0xFFFFFFFFFFFFull, 0xABCDEF012345ull, "\rABCDEF012345: 01 02\r\n"},
        {0x1000000000000ull, 0x12, "\r0000000000000012: 01 02\r\n"},
    };
    for (const Case& c : cases) {
        TestRun().pair.CompareLength = c.compareLength;
        std::vector<uint8_t> a(8, 1), b(8, 1);
        b[0] = 2;
        EXPECT_EQ(Diff(a, b, 1, c.offset).out, c.line);
    }
}

TEST_F(DiffBlockTest, ListingStopsAtTenThousandLinesPerBlock) {
    struct Case {
        uint32_t differences;
        bool quiet;
        size_t lines;
        bool notice;
        bool summary;
    } cases[] = {
        {9999, false, 9999, false, false}, {10000, false, 10000, true, true}, {10001, false, 10000, true, true},
        {10001, true, 0, false, true},     {9999, true, 0, false, false},
    };
    for (const Case& c : cases) {
        Options.quiet = c.quiet;
        std::vector<uint8_t> a(c.differences + 8, 0), b(c.differences + 8, 0);
        for (uint32_t i = 0; i < c.differences; ++i) b[i] = 1;
        Listing l = Diff(a, b, static_cast<uint32_t>(a.size()));
        EXPECT_EQ(l.count, c.differences);
        size_t lines = 0;
        for (size_t at = l.out.find(": 00 01\r\n"); at != std::string::npos; at = l.out.find(": 00 01\r\n", at + 1))
            ++lines;
        EXPECT_EQ(lines, c.lines) << c.differences << (c.quiet ? " quiet" : "");
        std::string notice = "found > 10000 diffs -> no more printing\r\n";
        std::string summary = std::to_string(c.differences) + " diffs found\r\n";
        EXPECT_EQ(l.out.find(notice) != std::string::npos, c.notice);
        EXPECT_EQ(l.out.size() >= summary.size() &&
                      l.out.compare(l.out.size() - summary.size(), summary.size(), summary) == 0,
                  c.summary);
    }
}

TEST_F(DiffBlockTest, TheNoticeFollowsTheTenThousandthLine) {
    std::vector<uint8_t> a(10008, 0), b(10008, 0);
    for (uint32_t i = 0; i < 10002; ++i) b[i] = 1;
    Listing l = Diff(a, b, 10008);
    std::string tail = "\r0000270F: 00 01\r\nfound > 10000 diffs -> no more printing\r\n10002 diffs found\r\n";
    ASSERT_GE(l.out.size(), tail.size());
    EXPECT_EQ(l.out.substr(l.out.size() - tail.size()), tail);
}

TEST_F(DiffBlockTest, AStopEndsTheScanEarly) {
    std::vector<uint8_t> a(1 << 16, 0), b(1 << 16, 1);
    InterruptFlag.store(1);
    Listing l = Diff(a, b, 1 << 16);
    EXPECT_LT(l.count, 1u << 16);
    InterruptFlag.store(0);
}

}  // namespace
