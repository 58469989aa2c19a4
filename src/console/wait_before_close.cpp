#include "console/console_output.h"
#include "console/keys.h"
#include "console/stop_deadline.h"
#include "platform/win_api.h"

namespace {

bool ClosesTheConsole(const INPUT_RECORD& record) {
    return record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown && !IsModifierKey(record.Event.KeyEvent);
}

}  // namespace

void WaitBeforeClose(const ConsoleSession* session, bool noWait) {
    NoteWorkEnded();
    if (noWait) return;
    win.SetThreadExecutionState(ES_CONTINUOUS);
    if (session && IsStandalone()) {
        win.Sleep(300);
        // Keys typed during the run are not the answer.
        win.FlushConsoleInputBuffer(session->inputHandle);
        PrintOut("Press any key to close");
        for (;;) {
            win.Sleep(100);
            INPUT_RECORD record;
            DWORD read = 0;
            // Input that cannot be read would never bring the key.
            if (!win.ReadConsoleInputW(session->inputHandle, &record, 1, &read)) break;
            if (read == 1 && ClosesTheConsole(record)) break;
        }
    }
    win.Sleep(100);
}
