#include "console/status_line.h"

#include "console/console_output.h"
#include "platform/win_api.h"

namespace {

// Rows are read in pieces of this many cells on the stack, whatever the width: no heap, and no
// request larger than the console accepts at once.
constexpr SHORT kRowPiece = 256;
// The buffer width that a widened console gets.
constexpr SHORT kWideColumns = 260;

bool HasLineEnd(const char* text) {
    for (; *text; ++text) {
        if (*text == '\n' || *text == '\r') return true;
    }
    return false;
}

void WriteRun(HANDLE output, CHAR_INFO* cells, SHORT count, SHORT column, SHORT row, SHORT first, SHORT last) {
    SMALL_RECT target{static_cast<SHORT>(column + first), row, static_cast<SHORT>(column + last), row};
    win.WriteConsoleOutputW(output, cells, COORD{count, 1}, COORD{first, 0}, &target);
}

// Whether any cell of `row` shows something other than a blank. ReadConsoleOutputCharacterW
// rather than ReadConsoleOutputW: Wine's ReadConsoleOutputW takes a block from the process heap,
// which the control handler must not touch.
bool RowHoldsText(HANDLE output, SHORT row, SHORT width) {
    for (SHORT left = 0; left < width; left += kRowPiece) {
        wchar_t text[kRowPiece];
        DWORD wanted = static_cast<DWORD>(width - left < kRowPiece ? width - left : kRowPiece);
        DWORD read = 0;
        if (!win.ReadConsoleOutputCharacterW(output, text, wanted, COORD{left, row}, &read)) return false;
        for (DWORD i = 0; i < read && i < wanted; ++i) {
            if (text[i] != L' ') return true;
        }
    }
    return false;
}

}  // namespace

uint16_t WriteStatusAtV(int column, const char* format, va_list args) {
    if (HasLineEnd(format)) return 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    bool console = QueryScreenBuffer(&info);
    if (column < 0) column = info.dwCursorPosition.X;

    char text[kFormatLimit + 1];
    size_t length = FormatText(text, format, args);
    if (length >= kStatusCells || length == 0 || !console) return static_cast<uint16_t>(length);

    HANDLE output = win.GetStdHandle(STD_OUTPUT_HANDLE);
    SHORT count = static_cast<SHORT>(length);
    SHORT left = static_cast<SHORT>(column);
    SHORT row = info.dwCursorPosition.Y;
    CHAR_INFO cells[kStatusCells] = {};
    SMALL_RECT region{left, row, static_cast<SHORT>(left + count - 1), row};
    if (!win.ReadConsoleOutputW(output, cells, COORD{count, 1}, COORD{0, 0}, &region)) return count;
    // Where the row ends before the text does, only the cells that exist can be compared.
    SHORT visible = region.Left == left && region.Right >= left ? static_cast<SHORT>(region.Right - left + 1) : 0;
    if (visible > count) visible = count;

    WORD attributes = cells[0].Attributes;
    SHORT first = -1, last = -1;  // the pending run of changed cells; none while first < 0
    for (SHORT i = 0; i < visible; ++i) {
        wchar_t wanted = static_cast<unsigned char>(text[i]);
        if (cells[i].Char.UnicodeChar != wanted) {
            cells[i].Char.UnicodeChar = wanted;
            cells[i].Attributes = attributes;
            if (first < 0) first = i;
            last = i;
        } else if (wanted != L' ' && first >= 0) {
            // Rewriting a few unchanged blanks is cheaper than another call; unchanged text is not.
            WriteRun(output, cells, count, left, row, first, last);
            first = -1;
        }
    }
    if (first >= 0) WriteRun(output, cells, count, left, row, first, last);
    return count;
}

uint16_t WriteStatusAt(int column, const char* format, ...) {
    va_list args;
    va_start(args, format);
    uint16_t length = WriteStatusAtV(column, format, args);
    va_end(args);
    return length;
}

void ClearStatusLine() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!QueryScreenBuffer(&info) || info.dwSize.X <= 0) return;
    HANDLE output = win.GetStdHandle(STD_OUTPUT_HANDLE);
    SHORT width = info.dwSize.X;
    SHORT row = info.dwCursorPosition.Y;
    for (SHORT left = 0; left < width; left += kRowPiece) {
        SHORT count = width - left < kRowPiece ? static_cast<SHORT>(width - left) : kRowPiece;
        CHAR_INFO cells[kRowPiece];
        SMALL_RECT region{left, row, static_cast<SHORT>(left + count - 1), row};
        if (!win.ReadConsoleOutputW(output, cells, COORD{count, 1}, COORD{0, 0}, &region)) break;
        SHORT read = region.Right >= region.Left ? static_cast<SHORT>(region.Right - region.Left + 1) : 0;
        bool changed = false;
        for (SHORT i = 0; i < read && i < count; ++i) {
            if (cells[i].Char.UnicodeChar != L' ') {
                cells[i].Char.UnicodeChar = L' ';
                changed = true;
            }
        }
        // Called for every line of a difference listing: a row that is already blank costs one
        // read, not a write as well.
        if (changed) win.WriteConsoleOutputW(output, cells, COORD{count, 1}, COORD{0, 0}, &region);
    }
    PrintOut("\r");
}

void EnsureFreshLine() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!QueryScreenBuffer(&info)) return;
    if (info.dwCursorPosition.X > 0) {
        PrintOut("\n");
        return;
    }
    if (info.dwSize.X <= 0) return;
    if (RowHoldsText(win.GetStdHandle(STD_OUTPUT_HANDLE), info.dwCursorPosition.Y, info.dwSize.X)) PrintOut("\n");
}

void WidenConsole() {
    HANDLE output = win.GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!win.GetConsoleScreenBufferInfo(output, &info) || info.dwSize.X > 80) return;
    win.SetConsoleScreenBufferSize(output, COORD{kWideColumns, info.dwSize.Y});
    // Grow the window with the buffer, but only as far as the screen allows: a request beyond the
    // largest window fails and would leave the window as narrow as it was.
    CONSOLE_SCREEN_BUFFER_INFO widened;
    if (!win.GetConsoleScreenBufferInfo(output, &widened)) return;
    SHORT windowWidth = static_cast<SHORT>(widened.srWindow.Right - widened.srWindow.Left + 1);
    SHORT target = widened.dwMaximumWindowSize.X < kWideColumns ? widened.dwMaximumWindowSize.X : kWideColumns;
    if (target <= windowWidth) return;
    SMALL_RECT grow{0, 0, static_cast<SHORT>(target - windowWidth), 0};
    win.SetConsoleWindowInfo(output, FALSE, &grow);
}
