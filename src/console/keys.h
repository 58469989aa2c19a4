// The keyboard as the console and the system see it, and the wait for a key before the console
// of a standalone run closes.
#pragma once

#include <cstdint>

#include "console/console_session.h"
#include "platform/windows.h"

// True when the console window is the foreground window and some key is held down.
bool AnyKeyDown();

// Waits, polling every 10 ms, until Pause, Ctrl, Esc, C, Y and N are all up: 1 when they are, 0
// when `limitMs` ran out first.
int WaitKeysReleased(uint32_t limitMs);

// Injects a key-up event for the virtual-key code in the low byte of each character of `keys`.
void ReleaseKeys(const wchar_t* keys);

// True when the console window belongs to this process (started by a double click).
bool IsStandalone();

// Shift, Ctrl, Alt, Pause and Caps Lock.
bool IsModifierKey(const KEY_EVENT_RECORD& key);

// Lets a standalone user read the output before the console closes: "Press any key to close" and
// a wait for a key that is not a modifier. Ends the keep-awake state of the run. Does nothing at
// all when `noWait` (-n) is set.
void WaitBeforeClose(const ConsoleSession* session, bool noWait);
