#include "tree/wildcard.h"

#include "paths/path_strings.h"

namespace {

// Case is folded as the file system folds it, one character for one: clearing bit 0x20 would
// also pair "@" with "`" and thousands of CJK characters with one another. The mask's end (0)
// matches nothing, since no name character reaches this test as 0.
bool CharMatches(wchar_t nameChar, wchar_t maskChar) {
    if (maskChar == L'?') return true;
    return maskChar != 0 && (nameChar == maskChar || UpperCaseChar(nameChar) == UpperCaseChar(maskChar));
}

// What is left of the mask where the name has ended: stars, then at most one ".*", then stars.
// A mask ending in ".*" takes a name without an extension as the system's own searches do
// ("*.*" is every file), also where the star before that ".*" has matched nothing ("a*.*" takes
// "a").
bool RestMatchesNothing(const wchar_t* mask) {
    while (*mask == L'*') ++mask;
    if (mask[0] == L'.' && mask[1] == L'*') ++mask;
    while (*mask == L'*') ++mask;
    return *mask == 0;
}

}  // namespace

// Greedy, with one restart point: a later star replaces the restart point of an earlier one,
// which is enough because a star can absorb whatever an earlier star would have.
bool WildcardMatch(const wchar_t* name, const wchar_t* mask) {
    if (mask[0] == L'*' && (mask[1] == 0 || (mask[1] == L'.' && mask[2] == L'*' && mask[3] == 0))) return true;
    if (name[0] == 0 || mask[0] == 0) return false;
    while (*mask != L'*') {
        if (!CharMatches(*name, *mask)) return false;
        ++name;
        ++mask;
        if (*name == 0) break;
    }
    const wchar_t* restartMask = nullptr;
    const wchar_t* retryName = nullptr;
    while (*name != 0) {
        if (*mask == L'*') {
            ++mask;
            if (*mask == 0) return true;
            restartMask = mask;
            retryName = name + 1;
        } else if (CharMatches(*name, *mask)) {
            ++mask;
            ++name;
        } else {
            if (!restartMask) return false;
            mask = restartMask;
            name = retryName++;
        }
    }
    return RestMatchesNothing(mask);
}
