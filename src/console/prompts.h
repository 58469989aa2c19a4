// Prompts that wait for one key, and the pause of the folder walk.
#pragma once

#include <cstdint>

// Waits for a key that goes down and up while the prompt waits and returns its virtual-key code.
// `allowed` holds the letters that answer (case does not matter); empty accepts any key. Esc, an
// interrupted run and a cancelled prompt give `defaultKey`. The answer is echoed behind the
// question, without a line end. Works, by polling, also when standard input is no console.
uint16_t WaitForKey(const wchar_t* allowed, wchar_t defaultKey);

// WaitForKey("YN", defaultKey) == 'Y'.
bool AskYesNo(wchar_t defaultKey);

// When the console is in the foreground and Pause was pressed: "=== pause ===" until any key,
// then the line is wiped. Returns whether it paused.
bool CheckPauseKey();
