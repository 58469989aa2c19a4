// Runs in a real console (Wine inside tmux) and logs what it saw, for check_tty.sh: a status text
// written in place, Ctrl+C reaching the handler while the main thread works the heap, and a Y/N
// prompt that keys typed before it do not answer.
// Usage: tty_probe LOG_FILE SIGNAL_FOLDER
#include <cstdarg>
#include <cstdio>

#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/prompts.h"
#include "console/status_line.h"
#include "platform/windows.h"

namespace {

constexpr DWORD kPatienceMs = 30000;

HANDLE logFile = INVALID_HANDLE_VALUE;

void Log(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if (length > static_cast<int>(sizeof(line)) - 2) length = sizeof(line) - 2;
    line[length++] = '\n';
    DWORD written = 0;
    WriteFile(logFile, line, static_cast<DWORD>(length), &written, nullptr);
}

// The driving script creates the file when it has done its part.
bool WaitForSignal(const char* folder, const char* name) {
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "%s/%s", folder, name);
    for (DWORD start = GetTickCount(); GetTickCount() - start < kPatienceMs; Sleep(50)) {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
    }
    Log("no signal %s", name);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    logFile = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (logFile == INVALID_HANDLE_VALUE) return 2;

    MainThreadId = GetCurrentThreadId();
    static ConsoleSession session;
    OpenConsoleSession(&session);
    Session = &session;

    PrintOut("tty probe\n");
    uint16_t column = WriteStatusAt(0, " %u MB of %u MB compared", 5u, 10u);
    WriteStatusAt(column, " (%s)           ", "12 MB/s");
    Log("status column=%d row=%d", CursorColumn(), CursorRow());

    // Busy in the heap, as the comparison is, until the handler has run.
    Log("busy");
    HANDLE heap = GetProcessHeap();
    unsigned rounds = 0;
    for (DWORD start = GetTickCount(); !AbortFlag.load() && GetTickCount() - start < kPatienceMs; ++rounds) {
        HeapFree(heap, 0, HeapAlloc(heap, 0, 64 + rounds % 4096));
    }
    Log("handled abort=%d interrupt=%d event=%d", AbortFlag.load(), InterruptFlag.load(), LastControlEvent.load());

    if (!WaitForSignal(argv[2], "typed")) return 3;
    PrintOut("abort? (Y/N)");
    Log("prompt");
    bool yes = AskYesNo(L'Y');
    Log("answer=%c", yes ? 'Y' : 'N');
    PrintOut("\n");
    Log("done");
    CloseHandle(logFile);
    return 0;
}
