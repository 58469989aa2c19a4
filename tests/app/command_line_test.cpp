#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memory.h"
#include "base/types.h"
#include "support/output_capture.h"
#include "support/seam.h"
#include "tree/exclude_masks.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& line, int* countOut = nullptr) {
    int count = -1;
    wchar_t* slots[kArgumentSlots];
    wchar_t* buffer = SplitCommandLine(line.c_str(), &count, slots);
    std::vector<std::wstring> args;
    for (int i = 0; i < count; ++i) args.emplace_back(slots[i]);
    if (count < kArgumentSlots) {
        EXPECT_EQ(slots[count == 0 ? 1 : count], nullptr);
    }
    FreeBlock(buffer);
    if (countOut) *countOut = count;
    return args;
}

TEST(SplitCommandLine, QuotesSeparatorsAndEmptyArguments) {
    using Args = std::vector<std::wstring>;
    struct Case {
        const wchar_t* line;
        Args args;
    } cases[] = {
        {L"qvb", {L"qvb"}},
        {L"qvb a b", {L"qvb", L"a", L"b"}},
        {L"\"C:\\Program Files\\qvb.exe\" x", {L"C:\\Program Files\\qvb.exe", L"x"}},
        {L"qvb   a  \t b   ", {L"qvb", L"a", L"b"}},  // runs of separators, none trailing
        {L"qvb \"\"", {L"qvb", L""}},                 // empty quotes: an empty argument
        {L"qvb \"\" \"\"", {L"qvb", L"", L""}},
        {L"qvb a\"b c\"d", {L"qvb", L"ab cd"}},  // quoted stretch inside an argument
        {L"qvb \"unpaired quote runs to the end", {L"qvb", L"unpaired quote runs to the end"}},
        {L"qvb a\\\"b c\\\" d", {L"qvb", L"a\\b c\\", L"d"}},  // no escape: backslashes stay
        {L"qvb \\\\server\\share\\ x", {L"qvb", L"\\\\server\\share\\", L"x"}},
        {L" leading", {L"", L"leading"}},  // a leading blank ends an empty argument 0
        {L"qvb a\x000B"
         L"b",
         {L"qvb",
          L"a\x000B"
          L"b"}},  // vertical tab is no separator
        {L"qvb\x0009"
         L"1\x000A"
         L"2\x000C"
         L"3\x000D"
         L"4\x0020"
         L"5\x00A0"
         L"6\x2009"
         L"7\x200A"
         L"8\x205F"
         L"9\x3000"
         L"10",
         {L"qvb", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10"}},
        {L"qvb \"a\x3000"
         L"b\"",
         {L"qvb",
          L"a\x3000"
          L"b"}},  // separators inside quotes are kept
    };
    for (const Case& c : cases)
        EXPECT_EQ(Split(c.line), c.args) << "line: [" << testing::PrintToString(std::wstring(c.line)) << "]";
}

TEST(SplitCommandLine, EmptyLineHasNoArguments) {
    int count = -1;
    wchar_t* slots[kArgumentSlots];
    wchar_t* buffer = SplitCommandLine(L"", &count, slots);
    EXPECT_EQ(count, 0);
    ASSERT_NE(slots[0], nullptr);
    EXPECT_EQ(slots[0][0], 0);
    FreeBlock(buffer);
}

TEST(SplitCommandLine, KeepsThirtyArgumentsAfterTheProgram) {
    std::wstring line = L"qvb";
    for (int i = 1; i <= 40; ++i) line += L" a" + std::to_wstring(i);
    int count = 0;
    wchar_t* slots[kArgumentSlots];
    wchar_t* buffer = SplitCommandLine(line.c_str(), &count, slots);
    EXPECT_EQ(count, 31);
    EXPECT_STREQ(slots[30], L"a30");
    EXPECT_EQ(slots[31], nullptr);
    FreeBlock(buffer);
}

TEST(SplitCommandLine, WholeAndPartlyQuotedPathsAreTheSame) {
    EXPECT_EQ(Split(L"qvb \"C:\\my data\\file.bin\""), Split(L"qvb C:\\\"my data\"\\file.bin"));
}

// The option loop over a vector of arguments, with fresh options, paths and masks.
struct LoopRun {
    OptionLoopResult result;
    RunOptions options;
    std::wstring path1, path2;
    std::vector<std::wstring> args;  // after the loop, which rewrites '/' switches in place
    std::string printed;
};

void ClearExcludeMasks() {
    for (wchar_t*& mask : ExcludeMasks) {
        FreeBlock(mask);
        mask = nullptr;
    }
}

LoopRun RunLoop(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"qvb");
    std::vector<wchar_t*> vector;
    for (std::wstring& a : args) vector.push_back(a.data());
    vector.push_back(nullptr);
    static PathBuffer p1, p2;
    p1[0] = p2[0] = 0;
    LoopRun run;
    run.options = kDefaultRunOptions;
    ClearExcludeMasks();
    OutputCapture capture(false, false);
    run.result = RunOptionLoop(static_cast<int>(args.size()), vector.data(), &run.options, p1, p2);
    run.path1 = p1;
    run.path2 = p2;
    run.args.assign(args.begin() + 1, args.end());
    run.printed = capture.streams.outBytes;
    return run;
}

TEST(RunOptionLoop, RetryCounts) {
    struct Case {
        const wchar_t* arg;
        int32_t retryCount;
    } cases[] = {
        {L"-r:3", 4},
        {L"-R:3", 4},
        {L"-r:0", 1},
        {L"-r:-5", 1},
        {L"-r:2000000", 1000000},
        {L"-r:999999", 1000000},
        {L"-r:", 1},
        {L"-r:x", 1},
        {L"-r:2147483647", 1000000},  // one more than the largest number must not wrap around
        {L"-r:12abc", 13},
    };
    for (const Case& c : cases) {
        LoopRun run = RunLoop({c.arg, L"a", L"b"});
        EXPECT_EQ(run.options.RetryCount, c.retryCount) << testing::PrintToString(std::wstring(c.arg));
        EXPECT_EQ(run.path1, L"a");
    }
    // Only the '-' form is a retry option; the slash form becomes a path.
    LoopRun run = RunLoop({L"/r:3", L"b"});
    EXPECT_EQ(run.options.RetryCount, kDefaultRetryCount);
    EXPECT_EQ(run.path1, L"-r:3");
    EXPECT_EQ(run.path2, L"b");
}

TEST(RunOptionLoop, PlainSwitchesInEitherFormAndCase) {
    struct Case {
        const wchar_t* arg;
        bool RunOptions::*flag;
        bool RunOptions::*also;
    } cases[] = {
        {L"-q", &RunOptions::quiet, nullptr},
        {L"/Q", &RunOptions::quiet, nullptr},
        {L"-tq", &RunOptions::totallyQuiet, &RunOptions::quiet},
        {L"-s", &RunOptions::recurse, nullptr},
        {L"-p", &RunOptions::parseReparsePoints, nullptr},
        {L"/n", &RunOptions::noWait, nullptr},
        {L"-I", &RunOptions::ignoreSizes, nullptr},
        {L"-sz", &RunOptions::skipZero, nullptr},
        {L"-SZ1", &RunOptions::skipZero1, nullptr},
        {L"/sz2", &RunOptions::skipZero2, nullptr},
    };
    const bool RunOptions::*all[] = {
        &RunOptions::quiet,    &RunOptions::totallyQuiet, &RunOptions::recurse,  &RunOptions::parseReparsePoints,
        &RunOptions::noWait,   &RunOptions::ignoreSizes,  &RunOptions::skipZero, &RunOptions::skipZero1,
        &RunOptions::skipZero2};
    for (const Case& c : cases) {
        LoopRun run = RunLoop({L"a", c.arg, L"b"});
        for (auto flag : all) {
            bool expected = flag == c.flag || flag == c.also;
            EXPECT_EQ(run.options.*flag, expected) << testing::PrintToString(std::wstring(c.arg));
        }
        EXPECT_EQ(run.path1, L"a");
        EXPECT_EQ(run.path2, L"b");
    }
}

TEST(RunOptionLoop, UnknownSwitchesBecomePaths) {
    struct Case {
        const wchar_t* arg;
        const wchar_t* path;
    } cases[] = {
        {L"/lv", L"-lv"},                                  // the slash form of a listing is a path
        {L"/x", L"-x"},                                    // short unknown switches keep their rewritten dash
        {L"-e:x", L"-e:x"},                                // four characters: only the plain switches are tried
        {L"-fi:", L"-fi:"},       {L"-xy:12", L"-xy:12"},  // a colon form other than -e, -fi and -st
        {L"/abcdef", L"/abcdef"}, {L"-", L"-"},
    };
    for (const Case& c : cases) {
        LoopRun run = RunLoop({c.arg, L"second"});
        EXPECT_EQ(run.result, OptionLoopResult::Done);
        EXPECT_EQ(run.path1, c.path) << testing::PrintToString(std::wstring(c.arg));
        EXPECT_EQ(run.path2, L"second");
    }
}

TEST(RunOptionLoop, ColonOptions) {
    LoopRun run = RunLoop({L"/fi:4Ki", L"-ST:1000", L"-e:ab", L"/e:\"x y\"", L"a", L"b"});
    EXPECT_EQ(run.options.firstBytes, 4096u);
    EXPECT_EQ(run.options.startOffset, 1000u);
    ASSERT_NE(ExcludeMasks[0], nullptr);
    EXPECT_STREQ(ExcludeMasks[0], L"ab");
    ASSERT_NE(ExcludeMasks[1], nullptr);
    EXPECT_STREQ(ExcludeMasks[1], L"x y");  // enclosing quotes that reached us are removed
    EXPECT_EQ(ExcludeMasks[2], nullptr);
    EXPECT_EQ(run.path1, L"a");
    EXPECT_EQ(run.path2, L"b");
    ClearExcludeMasks();
}

TEST(RunOptionLoop, AHundredAndFirstMaskIsDroppedSilently) {
    std::vector<std::wstring> args;
    for (int i = 0; i < 101; ++i) args.push_back(L"-e:m" + std::to_wstring(i));
    LoopRun run = RunLoop(args);
    EXPECT_EQ(run.printed, "");
    EXPECT_STREQ(ExcludeMasks[kMaxExcludeMasks - 1], L"m99");
    EXPECT_EQ(run.path1, L"");
    ClearExcludeMasks();
}

TEST(RunOptionLoop, ListingsEndTheLoopWithEarlierOptionsInForce) {
    LoopRun run = RunLoop({L"-q", L"-LV", L"-n", L"x"});
    EXPECT_EQ(run.result, OptionLoopResult::ListVolumes);
    EXPECT_TRUE(run.options.quiet);
    EXPECT_FALSE(run.options.noWait);
    EXPECT_EQ(run.path1, L"");

    run = RunLoop({L"a", L"-ld", L"-q"});
    EXPECT_EQ(run.result, OptionLoopResult::ListDisks);
    EXPECT_FALSE(run.options.quiet);
    EXPECT_EQ(run.path1, L"a");
}

TEST(RunOptionLoop, AThirdPathIsRejectedWithTheArgumentList) {
    LoopRun run = RunLoop({L"one", L"/q", L"two", L"three", L"four"});
    EXPECT_EQ(run.result, OptionLoopResult::TooManyPaths);
    EXPECT_EQ(run.printed,
              "invalid parameter three\r\n"
              "Params:\r\n"
              " param[0]=qvb\r\n"
              " param[1]=one\r\n"
              " param[2]=-q\r\n"
              " param[3]=two\r\n"
              " param[4]=three\r\n"
              " param[5]=four\r\n");
}

TEST(RunOptionLoop, PathsOfAnyLengthStayInsideTheirBuffers) {
    std::wstring huge(40000, L'p');
    LoopRun run = RunLoop({huge, huge});
    EXPECT_EQ(run.path1.size(), static_cast<size_t>(kPathChars - 1));
    EXPECT_EQ(run.path2.size(), static_cast<size_t>(kPathChars - 1));
}

TEST(ParseSizeNumber, SuffixesAndForms) {
    struct Case {
        const wchar_t* text;
        uint64_t value;
    } cases[] = {
        {L"4K", 4000},
        {L"4Ki", 4096},
        {L"4ki", 4096},
        {L"1.5G", 1000000000},  // the plain value stops at the point
        {L"0x100", 256},
        {L"16MB", 16000000},
        {L"abc", 0},
        {L"", 0},
        {L"123", 123},
        {L"5000000000", 5000000000ull},  // beyond 32 bits without a suffix
        {L"2T", 2000000000000ull},
        {L"3P", 3000000000000000ull},
        {L"1E", 1000000000000000000ull},
        {L"1Mi", 1048576},
        {L"5Gi", 5368709120ull},
        {L"1Ti", 1ull << 40},
        {L"1Pi", 1ull << 50},
        {L"15Ei", 15ull << 60},
        {L"16Ei", 0},  // the product wraps modulo 2^64
        {L"10B", 10},
        {L"0X10", 0},  // only a lower-case x selects hexadecimal
        {L"7z", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseSizeNumber(c.text), c.value) << testing::PrintToString(std::wstring(c.text));
}

TEST(ParseSizeNumber, OverlongAndOverflowingTexts) {
    std::wstring sixtyThree(63, L'1'), sixtyFour(64, L'1');
    EXPECT_EQ(ParseSizeNumber(sixtyFour.c_str()), 0u);
    ParseSizeNumber(sixtyThree.c_str());  // any value, but no fault
    ParseSizeNumber(L"99999999999999999999999999K");
    ParseSizeNumber(L"0xFFFFFFFFFFFFFFFFFFFFFFFF");
    std::wstring longSuffix = L"1" + std::wstring(62, L'K');
    EXPECT_EQ(ParseSizeNumber(longSuffix.c_str()), 1000u);
}

TEST(ParseInt64, FallsBackToThe32BitParserWhenTheSystemLacksIt) {
    EXPECT_EQ(ParseInt64(L"0x10"), 16);
    EXPECT_EQ(ParseInt64(L"-9000000000"), -9000000000ll);
    SeamOverride none(
        win.GetProcAddress, +[](HMODULE, LPCSTR) -> FARPROC { return nullptr; });
    EXPECT_EQ(ParseInt64(L"-5"), -5);
    EXPECT_EQ(ParseInt64(L"0x10"), 0);
    EXPECT_EQ(ParseInt64(L"5000000000"), static_cast<int32_t>(5000000000ll));
}

TEST(Clamp, LimitsToTheClosedRange) {
    int32_t values[][2] = {{-7, 1}, {0, 1}, {1, 1}, {500, 500}, {1000000, 1000000}, {1000001, 1000000}};
    for (auto& v : values) {
        int32_t x = v[0];
        Clamp(&x, 1, 1000000);
        EXPECT_EQ(x, v[1]);
    }
}

}  // namespace
