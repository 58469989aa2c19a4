// Where the console cursor stands and how wide the screen buffer is. Every query answers 0 when
// standard output is not a console, so callers need no test of their own.
#pragma once

#include <cstdint>

#include "console/console_session.h"
#include "platform/windows.h"

// GetConsoleScreenBufferInfo of standard output; false (and `info` zeroed) when it is no console.
bool QueryScreenBuffer(CONSOLE_SCREEN_BUFFER_INFO* info);

int16_t CursorColumn();
int16_t CursorRow();
// Width of the screen buffer in columns.
int16_t ConsoleWidth();

// The cursor column read through the session's output handle.
int16_t CursorColumnOf(const ConsoleSession* session);

// Backs the cursor up to `column` with "\b \b", wiping what stood there; returns the last column
// read.
int16_t EraseToColumn(const ConsoleSession* session, int column);

// Moves the cursor to `column` of its current row.
void SetCursorColumn(int column);
