#include <gtest/gtest.h>

#include <string>

#include "support/process_runner.h"

namespace {

TEST(CommandLine, ThreePathsAreRejectedWithEveryArgument) {
    ProcessResult r = RunQvb(L"a.bin -q b.bin c.bin");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 3u);
    std::string program(QvbPath().begin(), QvbPath().end());  // argument 0 loses its quotes
    EXPECT_EQ(r.out, "invalid parameter c.bin\r\nParams:\r\n param[0]=" + program +
                         "\r\n param[1]=a.bin\r\n param[2]=-q\r\n param[3]=b.bin\r\n param[4]=c.bin\r\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, MissingPaths) {
    struct Case {
        const wchar_t* args;
        const char* out;
    } cases[] = {
        {L"only.bin", "invalid path2\r\n"},
        {L"-q -s", "invalid path1\r\n"},
        {L"\"\"", "invalid path1\r\n"},  // an empty argument is no path
        {L"-q only.bin -fi:10", "invalid path2\r\n"},
    };
    for (const Case& c : cases) {
        ProcessResult r = RunQvb(c.args);
        EXPECT_EQ(r.exitCode, 3u) << testing::PrintToString(std::wstring(c.args));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, ListingsEndWithExitCodeZero) {
    for (const wchar_t* args : {L"-lv", L"-LD", L"-q -lv a b c d"}) {
        ProcessResult r = RunQvb(args);
        EXPECT_EQ(r.exitCode, 0u) << testing::PrintToString(std::wstring(args));
        EXPECT_FALSE(r.timedOut);
    }
}

TEST(CommandLine, TwoPathsWithEveryKindOfOptionReachTheComparison) {
    ProcessResult r = RunQvb(L"-q /n -r:3 -fi:4Ki -st:1K -e:*.tmp no-such-a.bin no-such-b.bin");
    EXPECT_EQ(r.exitCode, 9u);
    EXPECT_EQ(r.out, "source file not found -> abort\r\n");
    EXPECT_EQ(r.err, "");
}

// No command line may crash or hang the program: it ends with one of its own exit codes.
bool IsDocumentedExitCode(uint32_t code) { return code <= 12; }

TEST(CommandLine, HostileCommandLinesEndCleanly) {
    std::wstring many;
    for (int i = 0; i < 60; ++i) many += L" a" + std::to_wstring(i);
    std::wstring masks;
    for (int i = 0; i < 101; ++i) masks += L" -e:m" + std::to_wstring(i);
    const std::wstring cases[] = {
        std::wstring(30000, L'x'),
        L"\"" + std::wstring(20000, L' ') + L"\" b",
        many,
        L"\"\" \"\" \"\"",
        L"\"unpaired a b",
        L"a\"",
        L"\t\n\f\r \u00a0\u2009\u200a\u205f\u3000",
        L"a\u000bb c",
        L"-fi:" + std::wstring(70, L'9') + L" -st:" + std::wstring(64, L'1') + L"K a b",
        L"-fi:99999999999999999999999999 -st:0xFFFFFFFFFFFFFFFFFFFFFFFF -r:99999999999999999999 a b",
        masks + L" a b",
        L"-e: -fi: -st: -r: a b",
        L"/ - -- // :: a b",
        L"\\\\?\\ \\\\.\\ ",
    };
    for (const std::wstring& args : cases) {
        ProcessResult r = RunQvb(args);
        SCOPED_TRACE(testing::PrintToString(args.substr(0, 80)));
        ASSERT_TRUE(r.started) << "CreateProcessW error " << r.startError;
        EXPECT_FALSE(r.timedOut);
        EXPECT_TRUE(IsDocumentedExitCode(r.exitCode)) << "exit code " << r.exitCode;
    }
}

}  // namespace
