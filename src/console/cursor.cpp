#include "console/cursor.h"

#include "console/console_output.h"
#include "console/console_session.h"
#include "platform/win_api.h"

namespace {

bool QueryScreenBufferOf(HANDLE output, CONSOLE_SCREEN_BUFFER_INFO* info) {
    // Redirected output has no screen buffer; asking it once per pair would cost a system call.
    bool redirected = Session && Session->outputRedirected && output == Session->outputHandle;
    if (!redirected && win.GetConsoleScreenBufferInfo(output, info)) return true;
    *info = CONSOLE_SCREEN_BUFFER_INFO{};
    return false;
}

}  // namespace

bool QueryScreenBuffer(CONSOLE_SCREEN_BUFFER_INFO* info) {
    return QueryScreenBufferOf(win.GetStdHandle(STD_OUTPUT_HANDLE), info);
}

int16_t CursorColumn() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    QueryScreenBuffer(&info);
    return info.dwCursorPosition.X;
}

int16_t CursorRow() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    QueryScreenBuffer(&info);
    return info.dwCursorPosition.Y;
}

int16_t ConsoleWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    QueryScreenBuffer(&info);
    return info.dwSize.X;
}

int16_t CursorColumnOf(const ConsoleSession* session) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!session) return 0;
    QueryScreenBufferOf(session->outputHandle, &info);
    return info.dwCursorPosition.X;
}

int16_t EraseToColumn(const ConsoleSession* session, int column) {
    int16_t current = CursorColumnOf(session);
    while (current > column) {
        PrintOut("\b \b");
        int16_t next = CursorColumnOf(session);
        // A console that does not move back on "\b" (or a column left of the line start) would
        // keep this loop going for ever.
        if (next >= current) return next;
        current = next;
    }
    return current;
}

void SetCursorColumn(int column) {
    HANDLE output = win.GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!QueryScreenBufferOf(output, &info)) return;
    win.SetConsoleCursorPosition(output, COORD{static_cast<SHORT>(column), info.dwCursorPosition.Y});
}
