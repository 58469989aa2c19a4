#include "console/prompts.h"

#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/keys.h"
#include "platform/win_api.h"

namespace {

constexpr DWORD kPollMs = 30;
constexpr DWORD kHeldKeyPollMs = 10;
constexpr uint32_t kReleaseLimitMs = 10000;
constexpr DWORD kRecordsPerRead = 10;
// Answer sets are a few letters; longer ones are cut here.
constexpr int kMaxAllowed = 63;

uint16_t EndPrompt(uint16_t answer) {
    PromptActiveFlag.store(0, std::memory_order_relaxed);
    return answer;
}

bool IsAllowed(const wchar_t* allowed, WORD code) {
    if (!allowed[0]) return true;
    for (; *allowed; ++allowed) {
        if (*allowed == code) return true;
    }
    return false;
}

// Only key events count, and none made with the left Alt key held (Alt+Y is not a yes).
bool IsPromptKey(const INPUT_RECORD& record) {
    return record.EventType == KEY_EVENT && !(record.Event.KeyEvent.dwControlKeyState & LEFT_ALT_PRESSED);
}

// The answer among `count` records just read, if a key was released there that answers: Esc the
// default, or an allowed key. `pressed` is the code of the last key that went down.
bool AnswerAmong(const INPUT_RECORD* records, DWORD count, const wchar_t* keys, wchar_t defaultKey, HANDLE input,
                 int* pressed, uint16_t* answer) {
    for (DWORD i = 0; i < count && i < kRecordsPerRead; ++i) {
        if (!IsPromptKey(records[i])) continue;
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (key.bKeyDown) {
            *pressed = key.wVirtualKeyCode;
            continue;
        }
        if (key.wVirtualKeyCode != *pressed) continue;
        if (key.wVirtualKeyCode == VK_ESCAPE) {
            EndPrompt(defaultKey);
            PrintOut(" Esc -> %C", defaultKey);
            *answer = defaultKey;
            return true;
        }
        if (IsAllowed(keys, key.wVirtualKeyCode)) {
            win.FlushConsoleInputBuffer(input);
            EndPrompt(key.wVirtualKeyCode);
            PrintOut(" %C", static_cast<wchar_t>(key.wVirtualKeyCode));
            *answer = key.wVirtualKeyCode;
            return true;
        }
    }
    return false;
}

}  // namespace

uint16_t WaitForKey(const wchar_t* allowed, wchar_t defaultKey) {
    PromptActiveFlag.store(1, std::memory_order_relaxed);
    ReleaseKeys(L"\n");
    WaitKeysReleased(kReleaseLimitMs);

    wchar_t keys[kMaxAllowed + 1];
    int count = 0;
    for (; allowed && allowed[count] && count < kMaxAllowed; ++count) keys[count] = allowed[count];
    keys[count] = 0;
    if (count) win.CharUpperW(keys);

    // A key held from before the question is waited out, so that its release is no answer.
    while (AnyKeyDown()) {
        win.Sleep(kHeldKeyPollMs);
        if (PromptShouldEnd()) return EndPrompt(defaultKey);
    }
    HANDLE input = win.GetStdHandle(STD_INPUT_HANDLE);
    win.FlushConsoleInputBuffer(input);

    int pressed = -1;  // the code of the last key that went down while the prompt waited
    bool idleSignal = false;
    for (;;) {
        if (PromptShouldEnd()) return EndPrompt(defaultKey);
        DWORD pending = 0;
        bool console = win.GetNumberOfConsoleInputEvents(input, &pending) != FALSE;
        DWORD read = 0;
        INPUT_RECORD records[kRecordsPerRead];
        // Read only what is there: ReadConsoleInputW on an empty buffer would block past a stop.
        if (console && pending > 0 &&
            !win.ReadConsoleInputW(input, records, pending < kRecordsPerRead ? pending : kRecordsPerRead, &read)) {
            read = 0;
        }
        uint16_t answer = 0;
        if (AnswerAmong(records, read, keys, defaultKey, input, &pressed, &answer)) return answer;
        if (read > 0) {
            idleSignal = false;
            continue;
        }
        // Wait on the handle rather than sleep: Wine's console takes no key from the terminal
        // before someone waits on, peeks at or reads the input, and a key ends the wait at once.
        // A handle that stays signalled with nothing to read, and input that is no console, fall
        // back to sleeping.
        if (console && !idleSignal) {
            idleSignal = win.WaitForSingleObject(input, kPollMs) == WAIT_OBJECT_0;
        } else {
            win.Sleep(kPollMs);
            idleSignal = false;
        }
    }
}

bool AskYesNo(wchar_t defaultKey) { return WaitForKey(L"YN", defaultKey) == 'Y'; }

bool CheckPauseKey() {
    // No key could end the pause (output to a file still has its console window and keys).
    if (Session && (Session->noConsoleWindow || Session->inputNotConsole)) return false;
    HWND console = win.GetConsoleWindow();
    if (!console || console != win.GetForegroundWindow()) return false;
    if (!(win.GetAsyncKeyState(VK_PAUSE) & 0x8001)) return false;
    PrintOut("=== pause ===");
    WaitForKey(L"", L'N');
    // The press that started the pause must not start the next one.
    win.GetAsyncKeyState(VK_PAUSE);
    PrintOut("\r              \r");
    return true;
}
