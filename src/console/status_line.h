// The status line: progress and retry notices rewritten in place on the cursor's row, without
// moving the cursor and without scrolling. With standard output redirected nothing is written.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "console/cursor.h"

// Status texts are shorter than this; a longer one is not shown at all.
constexpr int kStatusCells = 80;

// Writes the formatted text at `column` of the cursor's row (a negative column means the cursor's
// own), touching only the cells that differ from what the screen shows. Returns the text length,
// so that a caller can chain the next text behind it; 0 when the format holds a line end, which
// would break the in-place line. Uses no heap.
uint16_t WriteStatusAt(int column, const char* format, ...);
uint16_t WriteStatusAtV(int column, const char* format, va_list args);

// Blanks the cursor's row (attributes stay) and returns the cursor to column 0.
void ClearStatusLine();

// Starts a new line unless the cursor already stands at the start of an empty row; a row that
// holds status text counts as used although the cursor is at its start. Uses no heap, so the
// control handler can call it while the main thread is suspended.
void EnsureFreshLine();

// Widens a console that this process owns, so long lines do not wrap.
void WidenConsole();
