#include "tree/tree_strings.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/types.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

wchar_t* JoinStrings(const wchar_t* first, ...) {
    size_t total = 0;
    va_list args;
    va_start(args, first);
    for (const wchar_t* part = first; part && *part; part = va_arg(args, const wchar_t*)) total += wcslen(part);
    va_end(args);
    wchar_t* result = static_cast<wchar_t*>(AllocZeroed((total + 1) * sizeof(wchar_t)));
    wchar_t* end = result;
    va_start(args, first);
    for (const wchar_t* part = first; part && *part; part = va_arg(args, const wchar_t*)) {
        size_t length = wcslen(part);
        memcpy(end, part, length * sizeof(wchar_t));
        end += length;
    }
    va_end(args);
    return result;
}

wchar_t* DuplicateString(const wchar_t* text) { return DuplicateStringWithRoom(text, 0); }

wchar_t* DuplicateStringWithRoom(const wchar_t* text, size_t extra) {
    size_t length = text ? wcslen(text) : 0;
    wchar_t* copy = static_cast<wchar_t*>(AllocZeroed((length + extra + 1) * sizeof(wchar_t)));
    if (length) memcpy(copy, text, length * sizeof(wchar_t));
    return copy;
}

const wchar_t* RelativeToBase(const wchar_t* path, const wchar_t* base) {
    if (base && *base) {
        if (const wchar_t* found = wcsstr(path, base)) return found + wcslen(base);
    }
    return SkipLongPathPrefix(path);
}

namespace {

PathBuffer UpperText;
PathBuffer UpperSearch;
PathBuffer Replaced;

}  // namespace

int ReplaceAllNoCase(wchar_t* text, const wchar_t* search, const wchar_t* replacement) {
    size_t textLength = wcslen(text);
    size_t searchLength = wcslen(search);
    size_t replacementLength = wcslen(replacement);
    if (textLength > static_cast<size_t>(kPathChars) || searchLength == 0 || searchLength >= kPathChars) return 0;
    if (textLength == static_cast<size_t>(kPathChars)) return 0;  // no room for the upper-cased copy's end
    memcpy(UpperText, text, (textLength + 1) * sizeof(wchar_t));
    memcpy(UpperSearch, search, (searchLength + 1) * sizeof(wchar_t));
    win.CharUpperW(UpperText);
    win.CharUpperW(UpperSearch);
    size_t in = 0, out = 0;
    int count = 0;
    while (in < textLength) {
        const wchar_t* found = wcsstr(UpperText + in, UpperSearch);
        if (!found) break;
        size_t at = static_cast<size_t>(found - UpperText);
        // The piece before the match, the replacement and the rest must stay below the limit.
        if (out + (at - in) + replacementLength + (textLength - at - searchLength) >= kPathChars) break;
        memcpy(Replaced + out, text + in, (at - in) * sizeof(wchar_t));
        out += at - in;
        memcpy(Replaced + out, replacement, replacementLength * sizeof(wchar_t));
        out += replacementLength;
        in = at + searchLength;
        ++count;
    }
    if (out + (textLength - in) >= kPathChars) return 0;
    memcpy(Replaced + out, text + in, (textLength - in) * sizeof(wchar_t));
    out += textLength - in;
    Replaced[out] = 0;
    memcpy(text, Replaced, (out + 1) * sizeof(wchar_t));
    return count;
}
