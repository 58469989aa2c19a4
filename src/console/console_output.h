// The four print routines. Each works for a console and for a file or pipe, and picks the call
// that suits the case; none allocates except PrintOutLongPath.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The formatter's limit, in characters, for one message.
constexpr int kFormatLimit = 1024;
// Console writes of a long path are split into pieces of this many characters.
constexpr int kConsolePiece = 25000;

// ANSI text to standard output with WriteFile; bare line feeds become CR LF. Bytes written or -1.
int PrintOut(const char* format, ...);
int PrintOutV(const char* format, va_list args);

// Bytes as they are to standard output with WriteFile: for output built elsewhere, such as the
// difference listing, which formats thousands of lines per write. Bytes written or -1.
int WriteOut(const char* bytes, uint32_t count);

// ANSI text to standard error: WriteConsoleA, or WriteFile when standard error is no console.
int PrintErr(const char* format, ...);

// Wide text to standard output: WriteConsoleW on a console, OEM code page bytes when redirected.
int PrintOutW(const wchar_t* format, ...);

// `format` holds exactly one %S, replaced by `path` of any length; nothing else is interpreted.
// -1 when the format has no %S.
int PrintOutLongPath(const char* format, const wchar_t* path);

// `path` of any length to standard error, in the ANSI code page as PrintErr's %S writes it: the
// middle of a message whose path would not fit the formatter's limit.
int PrintErrLongPath(const wchar_t* path);

// wvsprintf into `text` of kFormatLimit + 1 characters, always terminated; returns the length.
size_t FormatText(char* text, const char* format, va_list args);
size_t FormatText(wchar_t* text, const wchar_t* format, va_list args);

// A heap copy of `text` in UTF-16 (ANSI code page); empty when nothing converts. Free with FreeBlock.
wchar_t* AnsiToWide(const char* text);

// In place: every line feed not directly after a carriage return becomes CR LF. The result never
// exceeds `capacity` bytes with its terminator; what would not fit is cut from the end.
// Returns the new length.
size_t ExpandLineEnds(char* text, size_t capacity);

// Forgets what the routines learned about standard output, so a test can change the handles.
void ResetPrintCaches();
