// The in-place status line on a simulated screen buffer.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/status_line.h"
#include "support/fake_console.h"

namespace fc = fake_console;

namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + strlen(text)); }

struct Run {
    int left, right;
    const char* text;
};

struct DiffCase {
    const char* name;
    const char* screen;  // what row 2 shows at first, from column 0
    int cursorColumn;
    int column;
    const char* text;
    std::vector<Run> writes;
};

class WriteStatusDiff : public FakeConsoleTest, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(WriteStatusDiff, WritesOnlyTheChangedCellsInAsFewCallsAsNeeded) {
    const DiffCase& c = GetParam();
    fc::PutText(0, 2, c.screen);
    fc::SetCursor(c.cursorColumn, 2);
    fc::ForgetRecords();

    EXPECT_EQ(WriteStatusAt(c.column, "%s", c.text), strlen(c.text));

    ASSERT_EQ(fc::CellWriteCount(), static_cast<int>(c.writes.size()));
    for (size_t i = 0; i < c.writes.size(); ++i) {
        const fc::CellWrite& w = fc::CellWriteAt(static_cast<int>(i));
        EXPECT_EQ(w.region.Left, c.writes[i].left) << "write " << i;
        EXPECT_EQ(w.region.Right, c.writes[i].right) << "write " << i;
        EXPECT_EQ(w.region.Top, 2);
        EXPECT_EQ(std::wstring(w.text), Wide(c.writes[i].text)) << "write " << i;
    }
    // The row shows the text where it fits, the rest of the row as before, and the cursor stays.
    std::wstring expected = Wide(c.screen);
    expected.resize(80, L' ');
    int column = c.column < 0 ? c.cursorColumn : c.column;
    for (int i = 0; c.text[i] && column + i < 80; ++i) expected[column + i] = static_cast<wchar_t>(c.text[i]);
    EXPECT_EQ(fc::RowText(2), expected);
    EXPECT_EQ(fc::Cursor().X, c.cursorColumn);
    EXPECT_EQ(fc::Cursor().Y, 2);
    EXPECT_EQ(fc::Output(), "");
}

INSTANTIATE_TEST_SUITE_P(
    StatusLine, WriteStatusDiff,
    ::testing::Values(
        DiffCase{"OnABlankRowTheWholeTextInOneWrite", "", 0, 0, " 5 MB of 10 MB compared",
                 {{1, 22, "5 MB of 10 MB compared"}}},
        DiffCase{"TheSameTextAgainWritesNothing", " 5 MB of 10 MB compared", 0, 0, " 5 MB of 10 MB compared", {}},
        DiffCase{"OneChangedCellIsOneWriteOfOneCell", " 5 MB of 10 MB compared", 0, 0, " 6 MB of 10 MB compared",
                 {{1, 1, "6"}}},
        DiffCase{"UnchangedBlanksDoNotEndARun", "a b c", 0, 0, "x y z", {{0, 4, "x y z"}}},
        DiffCase{"UnchangedTextEndsARun", "a-b", 0, 0, "x-y", {{0, 0, "x"}, {2, 2, "y"}}},
        DiffCase{"ASingleUnchangedCharacterWritesNothing", "7", 0, 0, "7", {}},
        DiffCase{"ASingleChangedCharacter", "7", 0, 0, "8", {{0, 0, "8"}}},
        DiffCase{"AtAGivenColumn", " 5 MB of 10 MB compared (3 MB/s)", 0, 23, " (4 MB/s)", {{25, 25, "4"}}},
        DiffCase{"ANegativeColumnIsTheCursorColumn", "", 4, -1, "ab", {{4, 5, "ab"}}},
        DiffCase{"TrailingBlanksWipeALongerEarlierText", "abcdef", 0, 0, "ab    ", {{2, 5, "    "}}},
        DiffCase{"ATextRunningPastTheRowEndIsCutThere", "", 0, 76, "123456", {{76, 79, "1234"}}}),
    [](const ::testing::TestParamInfo<DiffCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, ChangedCellsTakeTheAttributesOfTheFirstCell) {
    fc::PutText(0, 0, "ab", 0x1E);
    fc::PutText(2, 0, "cd", 0x07);
    WriteStatusAt(0, "abxy");
    EXPECT_EQ(fc::CellAttributes(2, 0), 0x1E);
    EXPECT_EQ(fc::CellAttributes(3, 0), 0x1E);
}

struct RefusalCase {
    const char* name;
    const char* format;
    const char* argument;
    uint16_t result;
    bool shown;
};

class WriteStatusRefusal : public FakeConsoleTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(WriteStatusRefusal, RefusesLineEndsAndTextsOf80OrMore) {
    const RefusalCase& c = GetParam();
    EXPECT_EQ(WriteStatusAt(0, c.format, c.argument), c.result);
    EXPECT_EQ(fc::CellWriteCount() > 0, c.shown);
    if (!c.shown) {
        EXPECT_EQ(fc::TrimmedRow(0), L"");
    }
}

const std::string k79(79, 'x');
const std::string k80(80, 'x');

INSTANTIATE_TEST_SUITE_P(StatusLine, WriteStatusRefusal,
                         ::testing::Values(RefusalCase{"LineFeed", "%s\n", "abc", 0, false},
                                           RefusalCase{"CarriageReturn", "\r%s", "abc", 0, false},
                                           RefusalCase{"EightyCharacters", "%s", k80.c_str(), 80, false},
                                           RefusalCase{"SeventyNineCharacters", "%s", k79.c_str(), 79, true}),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, WithOutputRedirectedNothingIsWrittenAndTheLengthsStand) {
    fc::SetCursor(7, 3);
    fc::SetOutputRedirected(true);
    EXPECT_EQ(WriteStatusAt(0, " %u MB of %u MB compared", 5u, 10u), 23);
    EXPECT_EQ(WriteStatusAt(-1, "abc"), 3);
    ClearStatusLine();
    EnsureFreshLine();
    WidenConsole();
    SetCursorColumn(2);
    EXPECT_EQ(EraseToColumn(&session, 0), 0);
    EXPECT_EQ(CursorColumn(), 0);
    EXPECT_EQ(CursorRow(), 0);
    EXPECT_EQ(ConsoleWidth(), 0);
    EXPECT_EQ(CursorColumnOf(&session), 0);
    EXPECT_EQ(fc::Output(), "");  // not even the "\r" of ClearStatusLine
    EXPECT_EQ(fc::CellWriteCount(), 0);
    EXPECT_EQ(fc::BufferWidth(), 80);
}

struct ClearCase {
    const char* name;
    int width;
    int textColumn;
    const char* text;
    int writes;
};

class ClearStatus : public FakeConsoleTest, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(ClearStatus, BlanksTheWholeRowKeepsAttributesAndReturnsToColumnZero) {
    const ClearCase& c = GetParam();
    Restart(c.width);
    fc::PutText(c.textColumn, 1, c.text, 0x1F);
    fc::PutText(0, 2, "next row");
    fc::SetCursor(12, 1);

    ClearStatusLine();

    EXPECT_EQ(fc::TrimmedRow(1), L"");
    if (c.text[0]) {
        EXPECT_EQ(fc::CellAttributes(c.textColumn, 1), 0x1F);
    }
    EXPECT_EQ(fc::TrimmedRow(2), L"next row");
    EXPECT_EQ(fc::CellWriteCount(), c.writes);
    EXPECT_EQ(fc::Output(), "\r");
    EXPECT_EQ(fc::Cursor().X, 0);
    EXPECT_EQ(fc::Cursor().Y, 1);
}

INSTANTIATE_TEST_SUITE_P(StatusLine, ClearStatus,
                         ::testing::Values(ClearCase{"StatusText", 80, 0, " 5 MB of 10 MB compared", 1},
                                           ClearCase{"TextAtTheEndOfAWideRow", 300, 290, "retry 1", 1},
                                           ClearCase{"ABlankRowIsNotRewritten", 80, 0, "", 0}),
                         [](const ::testing::TestParamInfo<ClearCase>& info) { return std::string(info.param.name); });

struct FreshLineCase {
    const char* name;
    int width;
    int cursorColumn;
    int textColumn;
    const char* text;
    const char* output;
};

class FreshLine : public FakeConsoleTest, public ::testing::WithParamInterface<FreshLineCase> {};

TEST_P(FreshLine, StartsANewLineUnlessTheCursorRowIsEmpty) {
    const FreshLineCase& c = GetParam();
    Restart(c.width);
    fc::PutText(c.textColumn, 4, c.text);
    fc::SetCursor(c.cursorColumn, 4);
    EnsureFreshLine();
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_EQ(fc::CellWriteCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    StatusLine, FreshLine,
    ::testing::Values(FreshLineCase{"CursorBehindText", 80, 12, 0, "read error 5", "\r\n"},
                      FreshLineCase{"EmptyRow", 80, 0, 0, "", ""},
                      FreshLineCase{"StatusTextWithTheCursorAtColumnZero", 80, 0, 0, " 5 MB of 10 MB compared", "\r\n"},
                      FreshLineCase{"TextFarRightOnAWideRow", 300, 0, 295, "x", "\r\n"}),
    [](const ::testing::TestParamInfo<FreshLineCase>& info) { return std::string(info.param.name); });

struct WidenCase {
    const char* name;
    int width;
    int largestWindow;
    int bufferAfter;
    int windowAfter;
};

class Widen : public FakeConsoleTest, public ::testing::WithParamInterface<WidenCase> {};

TEST_P(Widen, WidensNarrowConsolesTo260AsFarAsTheScreenAllows) {
    const WidenCase& c = GetParam();
    Restart(c.width);
    fc::SetLargestWindow(c.largestWindow);
    WidenConsole();
    EXPECT_EQ(fc::BufferWidth(), c.bufferAfter);
    EXPECT_EQ(fc::WindowWidth(), c.windowAfter);
}

INSTANTIATE_TEST_SUITE_P(StatusLine, Widen,
                         ::testing::Values(WidenCase{"Wide120IsLeftAlone", 120, 300, 120, 120},
                                           WidenCase{"Narrow81IsLeftAlone", 81, 300, 81, 81},
                                           WidenCase{"Standard80Becomes260", 80, 300, 260, 260},
                                           WidenCase{"TheWindowStopsAtTheScreen", 80, 200, 260, 200}),
                         [](const ::testing::TestParamInfo<WidenCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, EraseToColumnBacksUpOverTheRetryNotice) {
    fc::PutText(0, 0, "Reading sector 1 of 9... retry 1 of 10");
    fc::SetCursor(38, 0);
    EXPECT_EQ(EraseToColumn(&session, 24), 24);
    EXPECT_EQ(fc::TrimmedRow(0), L"Reading sector 1 of 9...");
    EXPECT_EQ(fc::Cursor().X, 24);
}

TEST_F(FakeConsoleTest, EraseToColumnLeftOfTheLineStartEnds) {
    fc::SetCursor(0, 0);
    EXPECT_EQ(EraseToColumn(&session, -1), 0);
    EXPECT_EQ(fc::Output(), "\b \b");
}

TEST_F(FakeConsoleTest, SetCursorColumnStaysOnTheCursorRow) {
    fc::SetCursor(3, 5);
    SetCursorColumn(20);
    EXPECT_EQ(fc::Cursor().X, 20);
    EXPECT_EQ(fc::Cursor().Y, 5);
    EXPECT_EQ(CursorColumn(), 20);
    EXPECT_EQ(CursorRow(), 5);
    EXPECT_EQ(ConsoleWidth(), 80);
}

}  // namespace
