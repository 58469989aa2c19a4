#include "console/keys.h"

// The standalone test and the closing prompt come with the keyboard handling; until then the
// program behaves as if started from a command prompt.
bool IsStandalone() { return false; }

void WaitBeforeClose(ConsoleSession*) {}
