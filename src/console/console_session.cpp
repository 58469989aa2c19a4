#include "console/console_session.h"

#include "console/control_handler.h"
#include "console/stop_deadline.h"
#include "platform/win_api.h"

ConsoleSession* Session = nullptr;
CRITICAL_SECTION ConsoleLock;

void OpenConsoleSession(ConsoleSession* session) {
    // The lock must exist before the handler can run.
    win.InitializeCriticalSection(&ConsoleLock);
    win.SetConsoleCtrlHandler(StopEventHandler, TRUE);
    session->outputHandle = win.GetStdHandle(STD_OUTPUT_HANDLE);
    session->inputHandle = win.GetStdHandle(STD_INPUT_HANDLE);
    // NUL is a character device as a console is; only a console has a console mode.
    DWORD outputMode = 0;
    bool console = win.GetFileType(session->outputHandle) == FILE_TYPE_CHAR &&
                   win.GetConsoleMode(session->outputHandle, &outputMode);
    session->outputRedirected = console ? 0 : 1;
    session->noConsoleWindow = win.GetConsoleWindow() == nullptr;

    // Ctrl+C as a control event, keys one by one as input records, no echo. Both calls fail
    // harmlessly when standard input is no console.
    win.SetConsoleMode(session->inputHandle, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    DWORD mode = 0;
    session->inputNotConsole = !win.GetConsoleMode(session->inputHandle, &mode);
    if (!session->inputNotConsole) {
        win.SetConsoleMode(session->inputHandle,
                           (mode & ~DWORD{ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT}) | ENABLE_WINDOW_INPUT);
        // Wine's console leaves the terminal in line mode, echoing keys and keeping them from the
        // input buffer, until someone first waits on the input. Do that now, so that keys typed
        // during the run are not echoed and are flushed by the next prompt instead of answering it.
        win.WaitForSingleObject(session->inputHandle, 0);
    }
}

void CloseConsoleSession(ConsoleSession*) {
    // The handler goes first, and one that is running finishes, before its lock goes: an event at
    // the very end must never find a deleted lock.
    win.SetConsoleCtrlHandler(StopEventHandler, FALSE);
    win.EnterCriticalSection(&ConsoleLock);
    win.LeaveCriticalSection(&ConsoleLock);
    win.DeleteCriticalSection(&ConsoleLock);
}
