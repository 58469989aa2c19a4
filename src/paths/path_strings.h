// Small tests and edits on wide-character paths. None of them allocates; the ones that edit a
// path in place take the capacity of its buffer and never write beyond it. A null path reads as
// the empty string.
#pragma once

#include <cstddef>

#include "base/types.h"

// "\\?\" exactly, in its first four characters.
bool HasLongPathPrefix(const wchar_t* path);

// A to Z or a to z: the letters a drive can have.
inline bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The character upper-cased as the file system folds names: Unicode's simple mapping, one
// character for one, so U+00E4 and U+00C4 are one letter and "@" and "`" are two. ASCII is
// folded here, everything else by the system.
wchar_t UpperCaseChar(wchar_t c);

// Equal without regard to case, character by character as above (no linguistic rules: "ss" and
// U+00DF are different names).
bool SameNameNoCase(const wchar_t* a, const wchar_t* b);

// The upper-case ASCII drive letter the path begins with, behind a leading "\\?\"; 0 for none.
wchar_t DriveLetterOf(const wchar_t* path);

// The path behind a leading "\\?\", else the path itself: the form shown to the user.
const wchar_t* SkipLongPathPrefix(const wchar_t* path);
inline wchar_t* SkipLongPathPrefix(wchar_t* path) {
    return const_cast<wchar_t*>(SkipLongPathPrefix(static_cast<const wchar_t*>(path)));
}

// Two leading backslashes and a backslash further on, unless the name right after that
// backslash holds a colon, as a drive does (\\?\D:\x, \\.\D:). \\?\UNC\server\share and a
// volume GUID name with a trailing backslash count as UNC.
bool IsUncPath(const wchar_t* path);

// The character after the last backslash, or the path itself when it has none.
const wchar_t* FileNamePart(const wchar_t* path);
inline wchar_t* FileNamePart(wchar_t* path) {
    return const_cast<wchar_t*>(FileNamePart(static_cast<const wchar_t*>(path)));
}

// In place: appends `ch` unless the path already ends with it; an empty path becomes `ch` alone.
// False, with ERROR_FILENAME_EXCED_RANGE and the path untouched, when `capacity` characters
// (terminator included) cannot hold the result.
bool AppendCharIfMissing(wchar_t* path, wchar_t ch, size_t capacity = kPathChars);

// In place: drops the last character when it is `ch`.
void RemoveTrailingChar(wchar_t* path, wchar_t ch);

// `text` when it begins with `prefix`, compared without regard to case; null when either is empty
// or `text` is the shorter.
const wchar_t* StartsWithNoCase(const wchar_t* text, const wchar_t* prefix);

// Where `suffix` begins when `text` ends with it, compared without regard to case; null when
// either is empty or `text` is the shorter.
const wchar_t* EndsWithNoCase(const wchar_t* text, const wchar_t* suffix);

// "\\.\" or "\\?\" (exact case) and no backslash after them: \\.\PhysicalDrive0, \\.\D:, a
// volume GUID name without its trailing backslash.
bool IsDevicePath(const wchar_t* path);

// "*" or "?" behind a leading "\\?\".
bool HasWildcards(const wchar_t* path);

// An alternate data stream (file:stream): not a device path, and the last colon behind a leading
// "\\?\" is further in than a drive letter's.
bool HasStreamName(const wchar_t* path);

// GetFileAttributesW succeeds and reports a directory.
bool IsExistingFolder(const wchar_t* path);

// Length of `text` when it ends within `capacity` characters, else `capacity` (no terminator).
size_t BoundedLength(const wchar_t* text, size_t capacity);

// Copies `text` whole into `out` of `capacity` characters. False, with ERROR_FILENAME_EXCED_RANGE
// and `out` untouched, when it does not fit. `out` may overlap `text`.
bool CopyPath(wchar_t* out, size_t capacity, const wchar_t* text);
