// Waiting for keys at the end of a run.
#pragma once

#include "console/console_session.h"

// True when the console window belongs to this process (started by a double click).
bool IsStandalone();

// Lets a standalone user read the output before the console closes; nothing under -n.
void WaitBeforeClose(ConsoleSession* session);
