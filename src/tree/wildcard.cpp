#include "tree/wildcard.h"

namespace {

// Bit 0x20 is the case bit of the ASCII and Latin-1 letters; clearing it on both sides is the
// whole case rule, so a few non-letters pair up too (@ with `, [ with {). The mask's end (0)
// matches nothing, since no name character reaches this test as 0.
bool CharMatches(wchar_t nameChar, wchar_t maskChar) {
    if (maskChar == L'?') return true;
    return maskChar != 0 && (nameChar & ~0x20) == (maskChar & ~0x20);
}

}  // namespace

// Greedy, with one restart point: a later star replaces the restart point of an earlier one,
// which is enough because a star can absorb whatever an earlier star would have.
bool WildcardMatch(const wchar_t* name, const wchar_t* mask) {
    if (mask[0] == L'*' && mask[1] == 0) return true;
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
    while (*mask == L'*') ++mask;
    return *mask == 0;
}
