#include "console/console_output.h"

#include <gtest/gtest.h>

#include <string>

#include "base/memory.h"
#include "console/console_session.h"
#include "support/output_capture.h"
#include "support/seam.h"

namespace {

TEST(ExpandLineEnds, BareLineFeedsGainACarriageReturnAndPairsStay) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"\n", "\r\n"},
        {"a\nb", "a\r\nb"},
        {"a\r\nb", "a\r\nb"},
        {"bare\npair\r\n", "bare\r\npair\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"\r\n\n", "\r\n\r\n"},
        {"\r\r\n", "\r\r\n"},
        {"lone\rcr", "lone\rcr"},
    };
    for (const Case& c : cases) {
        char buffer[64] = {};
        strcpy(buffer, c.in);
        size_t length = ExpandLineEnds(buffer, sizeof(buffer));
        EXPECT_EQ(std::string(buffer), c.out) << "input: " << c.in;
        EXPECT_EQ(length, strlen(c.out));
    }
}

TEST(ExpandLineEnds, NeverWritesPastItsCapacity) {
    // Guard bytes after the usable capacity must survive, whatever the text.
    for (size_t capacity : {1u, 2u, 3u, 5u, 8u, 33u}) {
        char buffer[64];
        memset(buffer, 'G', sizeof(buffer));
        std::string text(capacity - 1, '\n');
        memcpy(buffer, text.c_str(), text.size() + 1);
        size_t length = ExpandLineEnds(buffer, capacity);
        EXPECT_LT(length, capacity);
        EXPECT_EQ(buffer[length], 0);
        for (size_t i = capacity; i < sizeof(buffer); ++i) ASSERT_EQ(buffer[i], 'G') << "capacity " << capacity;
        // What was kept is whole pairs only.
        for (size_t i = 0; i < length; i += 2) EXPECT_EQ(std::string(buffer + i, 2), "\r\n");
    }
}

TEST(PrintOut, WritesCrLfLineEndsToConsoleAndFileAlike) {
    for (bool console : {true, false}) {
        OutputCapture capture(console, false);
        int written = PrintOut("one\ntwo\r\n%s=%i\n", "x", 42);
        EXPECT_EQ(capture.streams.outBytes, "one\r\ntwo\r\nx=42\r\n");
        EXPECT_EQ(written, static_cast<int>(capture.streams.outBytes.size()));
        EXPECT_TRUE(capture.streams.outConsole.empty());
    }
}

TEST(PrintOut, WideArgumentsAndSixtyFourBitNumbers) {
    OutputCapture capture(false, false);
    PrintOut("%S %I64u %I64i\n", L"wide", 18446744073709551615ull, -5ll);
    EXPECT_EQ(capture.streams.outBytes, "wide 18446744073709551615 -5\r\n");
}

TEST(PrintOut, LongMessagesAreCutNotOverrun) {
    OutputCapture capture(false, false);
    std::string huge(5000, 'x');
    PrintOut("%s", huge.c_str());
    EXPECT_GT(capture.streams.outBytes.size(), 1000u);
    EXPECT_LE(capture.streams.outBytes.size(), static_cast<size_t>(kFormatLimit));

    // A full-length message of line feeds doubles in size and still fits.
    capture.streams.outBytes.clear();
    std::string feeds(kFormatLimit + 100, '\n');
    PrintOut("%s", feeds.c_str());
    const std::string& out = capture.streams.outBytes;
    EXPECT_GE(out.size(), 2u * (kFormatLimit - 1));
    EXPECT_EQ(out.size() % 2, 0u);
    EXPECT_EQ(out.substr(0, 4), "\r\n\r\n");
}

TEST(PrintOut, FailedWriteGivesMinusOne) {
    OutputCapture capture(false, false);
    SeamOverride fail(
        win.WriteFile, +[](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL { return FALSE; });
    EXPECT_EQ(PrintOut("x\n"), -1);
}

TEST(PrintErr, ConsoleGetsWriteConsoleAndARedirectedHandleWriteFile) {
    {
        OutputCapture capture(false, true);
        EXPECT_EQ(PrintErr("open failed: %s\n", "ERROR_ACCESS_DENIED"), 33);
        EXPECT_EQ(capture.streams.errConsole, "open failed: ERROR_ACCESS_DENIED\n");
        EXPECT_EQ(capture.streams.errBytes, "");
    }
    {
        // No line-end expansion on the redirected path either.
        OutputCapture capture(false, false);
        EXPECT_EQ(PrintErr("a\nb\n"), 4);
        EXPECT_EQ(capture.streams.errBytes, "a\nb\n");
    }
    {
        // Only ERROR_INVALID_HANDLE means "not a console"; another failure is no reason to retry.
        OutputCapture capture(false, true);
        capture.streams.failConsoleWith = ERROR_NOT_ENOUGH_MEMORY;
        EXPECT_EQ(PrintErr("x\n"), -1);
        EXPECT_EQ(capture.streams.errBytes, "");
    }
}

TEST(PrintOutW, ConsoleGetsTheCharactersAndRedirectedOutputOemBytes) {
    {
        OutputCapture capture(true, false);
        EXPECT_EQ(PrintOutW(L"%s h\u00e9 \u2713\n", L"caf\u00e9"), 10);
        EXPECT_EQ(capture.streams.outConsole, L"caf\u00e9 h\u00e9 \u2713\n");
    }
    {
        OutputCapture capture(false, false);
        PrintOutW(L"h\u00e9 \u4e2d\n");
        // The OEM code page here is 437: e-acute is 0x82, the CJK character has no byte at all.
        std::string expected = "h\x82 ?\n";
        if (GetOEMCP() == 437) {
            EXPECT_EQ(capture.streams.outBytes, expected);
        }
        EXPECT_EQ(capture.streams.outBytes.size(), 5u);
        EXPECT_EQ(capture.streams.outBytes.back(), '\n');  // no CR added by the wide routine
    }
    {
        OutputCapture capture(false, false);
        EXPECT_EQ(PrintOutW(L""), -1);  // nothing converts, nothing is written
        EXPECT_EQ(capture.streams.outBytes, "");
    }
}

TEST(PrintOutLongPath, LongTextOnAConsoleGoesInPieces) {
    OutputCapture capture(true, false);
    std::wstring path(30000, L'p');
    PrintOutLongPath("dir %S end\n", path.c_str());
    std::wstring expected = L"dir " + path + L" end\n";
    EXPECT_EQ(capture.streams.outConsole, expected);
    ASSERT_EQ(capture.streams.outConsoleWrites.size(), 2u);
    EXPECT_EQ(capture.streams.outConsoleWrites[0], static_cast<size_t>(kConsolePiece));
    EXPECT_EQ(capture.streams.outConsoleWrites[1], expected.size() - kConsolePiece);
}

TEST(PrintOutLongPath, PiecesNeverSplitASurrogatePair) {
    OutputCapture capture(true, false);
    // The 25000th character of the text is the first half of a pair.
    std::wstring path(kConsolePiece - 1, L'a');
    path += L"\U0001F600tail";
    PrintOutLongPath("%S", path.c_str());
    EXPECT_EQ(capture.streams.outConsole, path);
    ASSERT_EQ(capture.streams.outConsoleWrites.size(), 2u);
    EXPECT_EQ(capture.streams.outConsoleWrites[0], static_cast<size_t>(kConsolePiece - 1));
}

TEST(PrintOutLongPath, RedirectedGetsTheWholeTextAsOemBytes) {
    OutputCapture capture(false, false);
    std::wstring path = L"\\\\?\\Z:\\" + std::wstring(32000, L'd');
    int written = PrintOutLongPath("folder %S\n", path.c_str());
    std::string expected = "folder \\\\?\\Z:\\" + std::string(32000, 'd') + "\n";
    EXPECT_EQ(capture.streams.outBytes, expected);
    EXPECT_EQ(written, static_cast<int>(expected.size()));
}

TEST(PrintOutLongPath, WithoutMarkerWritesNothing) {
    OutputCapture capture(true, false);
    EXPECT_EQ(PrintOutLongPath("no marker %s\n", L"x"), -1);
    EXPECT_TRUE(capture.streams.outConsole.empty());
    EXPECT_TRUE(capture.streams.outBytes.empty());
}

TEST(PrintOutLongPath, OtherConversionsAreLeftAlone) {
    OutputCapture capture(true, false);
    PrintOutLongPath("%i %S %s%%\n", L"path");
    EXPECT_EQ(capture.streams.outConsole, L"%i path %s%%\n");
}

TEST(PrintOutLongPath, FailedShortConsoleWriteIsReported) {
    OutputCapture capture(true, false);
    capture.streams.failConsoleWith = ERROR_ACCESS_DENIED;
    EXPECT_EQ(PrintOutLongPath("x%Sy", L"abc"), 0);
    EXPECT_EQ(capture.streams.outBytes, "\r\nWriteConsoleW error 5 on textlen=5\r\n");
}

TEST(AnsiToWide, ConvertsAndGivesAnEmptyStringForNothing) {
    wchar_t* text = AnsiToWide("abc \xe9");
    EXPECT_STREQ(text, L"abc \u00e9");
    FreeBlock(text);
    text = AnsiToWide("");
    EXPECT_STREQ(text, L"");
    FreeBlock(text);
}

TEST(ConsoleSession, RedirectedInputStillOpensAndOutputIsFlagged) {
    // A character device is a console only when it has a console mode: NUL (> NUL in a script)
    // is a character device too, and nobody watches it.
    struct {
        bool charDevice, consoleMode;
        int32_t redirected;
    } rows[] = {{true, true, 0}, {true, false, 1}, {false, false, 1}};
    for (const auto& row : rows) {
        bool console = row.charDevice;
        OutputCapture capture(console, false);
        static DWORD inputMode;
        static int modeCalls;
        static bool outputMode;
        inputMode = 0x1F7;
        modeCalls = 0;
        outputMode = row.consoleMode;
        SeamOverride set(
            win.SetConsoleMode, +[](HANDLE h, DWORD mode) -> BOOL {
                ++modeCalls;
                if (h != OutputCapture::kIn) return FALSE;
                inputMode = mode;
                return TRUE;
            });
        SeamOverride get(
            win.GetConsoleMode, +[](HANDLE h, LPDWORD mode) -> BOOL {
                if (h == OutputCapture::kOut && outputMode) {
                    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
                    return TRUE;
                }
                if (h != OutputCapture::kIn) return FALSE;
                *mode = inputMode;
                return TRUE;
            });
        ConsoleSession session = {};
        OpenConsoleSession(&session);
        EXPECT_EQ(session.outputHandle, OutputCapture::kOut);
        EXPECT_EQ(session.inputHandle, OutputCapture::kIn);
        EXPECT_EQ(session.outputRedirected, row.redirected) << row.charDevice << row.consoleMode;
        // Raw key records: processed input for Ctrl+C, no line editing, no echo.
        EXPECT_EQ(inputMode, DWORD{ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT});
        EXPECT_EQ(modeCalls, 2);
        CloseConsoleSession(&session);
    }
}

TEST(ConsoleSession, InputThatIsNoConsoleIsLeftAlone) {
    OutputCapture capture(false, false);
    static int setCalls;
    setCalls = 0;
    SeamOverride set(
        win.SetConsoleMode, +[](HANDLE, DWORD) -> BOOL {
            ++setCalls;
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        });
    SeamOverride get(
        win.GetConsoleMode, +[](HANDLE, LPDWORD) -> BOOL { return FALSE; });
    ConsoleSession session = {};
    OpenConsoleSession(&session);
    EXPECT_EQ(setCalls, 1);
    CloseConsoleSession(&session);
}

}  // namespace
