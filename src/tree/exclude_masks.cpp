#include "tree/exclude_masks.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "platform/win_api.h"
#include "tree/wildcard.h"

wchar_t* ExcludeMasks[kMaxExcludeMasks] = {};

bool AddExcludeMask(const wchar_t* text) {
    for (wchar_t*& slot : ExcludeMasks) {
        if (slot) continue;
        size_t length = wcslen(text);
        slot = static_cast<wchar_t*>(AllocZeroed((static_cast<uint64_t>(length) + 1) * sizeof(wchar_t)));
        memcpy(slot, text, length * sizeof(wchar_t));
        // A mask that reached us with the shell's quotes still matches.
        win.PathUnquoteSpacesW(slot);
        return true;
    }
    return false;
}

bool IsExcluded(const wchar_t* name) {
    for (const wchar_t* mask : ExcludeMasks) {
        if (!mask) break;
        if (WildcardMatch(name, mask)) return true;
    }
    return false;
}
