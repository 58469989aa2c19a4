// Heap strings for the folder walk and the link handling. Every result is a heap copy that the
// caller frees with FreeBlock.
#pragma once

#include <cstddef>

// The concatenation of the arguments; the list ends at the first null or empty string.
wchar_t* JoinStrings(const wchar_t* first, ...);

wchar_t* DuplicateString(const wchar_t* text);

// A copy with room for `extra` more characters behind it; a null text gives an empty string.
wchar_t* DuplicateStringWithRoom(const wchar_t* text, size_t extra);

// The display form of a path: what follows the first occurrence of `base` (exact case), else the
// path without its "\\?\" prefix.
const wchar_t* RelativeToBase(const wchar_t* path, const wchar_t* base);

// In place, every occurrence of `search` (found without regard to case) becomes `replacement`;
// the rest keeps its case. Returns the number of replacements; 0, with `text` untouched, when
// the text is longer than 32768 characters or the result would not stay below that. `text` must
// have room for 32768 characters. Main thread only: it works in shared buffers.
int ReplaceAllNoCase(wchar_t* text, const wchar_t* search, const wchar_t* replacement);
