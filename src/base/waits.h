// Waiting for a thread or event the program owns.
#pragma once

#include "platform/windows.h"

// Waits until `object` is signalled. A wait on a handle of our own fails only for a moment, if at
// all, and going on early would let two threads share a buffer or free memory a thread still
// writes; so a failed wait is tried again for up to about ten seconds before the caller goes on.
// True once it was signalled; false when every attempt failed.
bool WaitUntilSignalled(HANDLE object);
