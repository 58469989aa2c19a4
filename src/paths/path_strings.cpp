#include "paths/path_strings.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "platform/win_api.h"

namespace {

const wchar_t kEmpty[] = L"";

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : kEmpty; }

}  // namespace

size_t BoundedLength(const wchar_t* text, size_t capacity) { return text ? wcsnlen(text, capacity) : 0; }

bool CopyPath(wchar_t* out, size_t capacity, const wchar_t* text) {
    text = OrEmpty(text);
    size_t length = BoundedLength(text, capacity);
    if (length >= capacity) {
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    memmove(out, text, (length + 1) * sizeof(wchar_t));
    return true;
}

bool HasLongPathPrefix(const wchar_t* path) {
    path = OrEmpty(path);
    // Compared one by one so a shorter text stops at its terminator.
    return path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\';
}

const wchar_t* SkipLongPathPrefix(const wchar_t* path) { return HasLongPathPrefix(path) ? path + 4 : path; }

wchar_t UpperCaseChar(wchar_t c) {
    if (c < 0x80) return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    // One character passed in the low word is converted and handed back in place.
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(win.CharUpperW(reinterpret_cast<LPWSTR>(c))));
}

bool SameNameNoCase(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b) {
        if (*a != *b && UpperCaseChar(*a) != UpperCaseChar(*b)) return false;
    }
    return *a == *b;
}

wchar_t DriveLetterOf(const wchar_t* path) {
    if (!path) return 0;
    path = SkipLongPathPrefix(path);
    if (!IsAsciiLetter(path[0]) || path[1] != L':') return 0;
    return static_cast<wchar_t>(path[0] & ~0x20);
}

bool IsUncPath(const wchar_t* path) {
    path = OrEmpty(path);
    if (path[0] != L'\\' || path[1] != L'\\') return false;
    const wchar_t* backslash = wcschr(path + 2, L'\\');
    if (!backslash) return false;
    const wchar_t* colon = wcschr(path + 2, L':');
    if (!colon || colon < backslash) return true;
    // A colon in the name behind the first backslash makes a drive of it (\\?\D:, \\.\D:); one
    // further on belongs to a stream name on a share, which is still a UNC path.
    const wchar_t* next = wcschr(backslash + 1, L'\\');
    return next && colon > next;
}

const wchar_t* FileNamePart(const wchar_t* path) {
    if (!path) return nullptr;
    const wchar_t* last = wcsrchr(path, L'\\');
    return last ? last + 1 : path;
}

bool AppendCharIfMissing(wchar_t* path, wchar_t ch, size_t capacity) {
    if (!path) return false;
    size_t length = BoundedLength(path, capacity);
    if (length > 0 && length < capacity && path[length - 1] == ch) return true;
    if (length + 2 > capacity) {
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    path[length] = ch;
    path[length + 1] = 0;
    return true;
}

void RemoveTrailingChar(wchar_t* path, wchar_t ch) {
    if (!path || path[0] == 0) return;
    size_t length = wcslen(path);
    if (path[length - 1] == ch) path[length - 1] = 0;
}

const wchar_t* StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
    if (!text || !prefix || text[0] == 0 || prefix[0] == 0) return nullptr;
    size_t prefixLength = wcslen(prefix);
    if (BoundedLength(text, prefixLength) < prefixLength) return nullptr;
    // The shell's search folds case as the file system's names do, beyond ASCII.
    return win.StrStrIW(text, prefix) == text ? text : nullptr;
}

const wchar_t* EndsWithNoCase(const wchar_t* text, const wchar_t* suffix) {
    if (!text || !suffix || text[0] == 0 || suffix[0] == 0) return nullptr;
    size_t length = wcslen(text);
    size_t suffixLength = wcslen(suffix);
    if (length < suffixLength) return nullptr;
    const wchar_t* tail = text + (length - suffixLength);
    return win.StrRStrIW(text, nullptr, suffix) == tail ? tail : nullptr;
}

bool IsDevicePath(const wchar_t* path) {
    path = OrEmpty(path);
    bool prefix = path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'.' || path[2] == L'?') && path[3] == L'\\';
    return prefix && !wcschr(path + 4, L'\\');
}

bool HasWildcards(const wchar_t* path) {
    const wchar_t* rest = SkipLongPathPrefix(OrEmpty(path));
    return wcschr(rest, L'*') || wcschr(rest, L'?');
}

bool HasStreamName(const wchar_t* path) {
    path = OrEmpty(path);
    if (IsDevicePath(path)) return false;
    const wchar_t* rest = SkipLongPathPrefix(path);
    const wchar_t* colon = wcsrchr(rest, L':');
    // Index 1 is a drive letter's colon; anything further in separates a stream.
    return colon && colon - rest >= 3;
}

bool IsExistingFolder(const wchar_t* path) {
    path = OrEmpty(path);
    DWORD attributes;
    const size_t length = wcslen(path);
    if (length >= MAX_PATH && path[1] == L':' && path[2] == L'\\') {
        // Windows takes no path of MAX_PATH characters or more without the long-path prefix: a
        // long full path is asked in its long form, or a long folder would pass for no folder.
        wchar_t* prefixed = static_cast<wchar_t*>(AllocZeroed((length + 5) * sizeof(wchar_t)));
        memcpy(prefixed, L"\\\\?\\", 4 * sizeof(wchar_t));
        memcpy(prefixed + 4, path, (length + 1) * sizeof(wchar_t));
        attributes = win.GetFileAttributesW(prefixed);
        FreeBlock(prefixed);
    } else {
        attributes = win.GetFileAttributesW(path);
    }
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
