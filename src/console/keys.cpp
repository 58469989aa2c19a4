#include "console/keys.h"

#include "platform/win_api.h"

namespace {

constexpr DWORD kKeyPollMs = 10;

// The keys that a prompt must not take for an answer while they are still held from before.
constexpr BYTE kWatchedKeys[] = {VK_PAUSE, VK_CONTROL, VK_ESCAPE, 'C', 'Y', 'N'};

bool WatchedKeyHeld() {
    BYTE state[256];
    // Without a key state there is nothing to wait for.
    if (!win.GetKeyboardState(state)) return false;
    for (BYTE key : kWatchedKeys) {
        if (state[key] & 0x80) return true;
    }
    return false;
}

}  // namespace

bool AnyKeyDown() {
    HWND console = win.GetConsoleWindow();
    if (!console || console != win.GetForegroundWindow()) return false;
    for (int key = 8; key <= 255; ++key) {
        // The first call clears the pressed-since-last-call report; only a key down now counts.
        win.GetAsyncKeyState(key);
        if (win.GetAsyncKeyState(key) & 0x8000) return true;
    }
    return false;
}

int WaitKeysReleased(uint32_t limitMs) {
    for (uint32_t waited = 0;; waited += kKeyPollMs) {
        if (!WatchedKeyHeld()) return 1;
        if (waited >= limitMs) return 0;
        win.Sleep(kKeyPollMs);
    }
}

void ReleaseKeys(const wchar_t* keys) {
    for (; *keys; ++keys) {
        BYTE code = static_cast<BYTE>(*keys & 0xFF);
        BYTE scan = static_cast<BYTE>(win.MapVirtualKeyW(code, MAPVK_VK_TO_VSC));
        win.keybd_event(code, scan, KEYEVENTF_KEYUP, 0);
    }
}

bool IsStandalone() {
    DWORD owner = 0;
    HWND console = win.GetConsoleWindow();
    if (!console) return false;
    win.GetWindowThreadProcessId(console, &owner);
    return owner != 0 && owner == win.GetCurrentProcessId();
}

bool IsModifierKey(const KEY_EVENT_RECORD& key) {
    return key.wVirtualKeyCode >= VK_SHIFT && key.wVirtualKeyCode <= VK_CAPITAL;
}
