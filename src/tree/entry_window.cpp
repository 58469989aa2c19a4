#include "tree/entry_window.h"

#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "console/control_handler.h"
#include "platform/win_api.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/pairs_in_flight.h"
#include "tree/tree_walk.h"
#include "tree/wildcard.h"

struct EntryWindow {
    static constexpr uint32_t kMost = 16;
    WindowFolder folder;
    uint32_t capacity;
    uint32_t first;
    uint32_t count;
    bool ended;      // the enumeration said no more, or failed
    DWORD endError;  // ERROR_NO_MORE_FILES, or why it failed
    WIN32_FIND_DATAW entries[kMost];
    PairJob* jobs[kMost];
    bool wanted[kMost];   // a file the walk will compare, still without a job
    bool entered[kMost];  // a folder the walk will enter, with all its pairs, before the next entry
};

EntryKind KindOfEntry(const RunState& run, const WIN32_FIND_DATAW& entry, const wchar_t* mask, size_t folderLength) {
    const wchar_t* name = entry.cFileName;
    if (IsDotEntry(name)) return EntryKind::kDots;
    if (IsExcluded(name)) return EntryKind::kExcluded;
    if (folderLength + wcslen(name) >= static_cast<size_t>(kMaxTreePathChars)) return EntryKind::kTooLong;
    if (Recursing(run) && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return EntryKind::kLink;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Recursing(run) ? EntryKind::kFolder : EntryKind::kIgnored;
    }
    return WildcardMatch(name, mask) ? EntryKind::kFile : EntryKind::kIgnored;
}

namespace {

void Admit(EntryWindow* window, uint32_t slot) {
    const WindowFolder& f = window->folder;
    const WIN32_FIND_DATAW& entry = window->entries[slot];
    EntryKind kind = KindOfEntry(*f.run, entry, f.mask, f.length1);
    window->jobs[slot] = nullptr;
    window->wanted[slot] = f.run->setup.Pool && kind == EntryKind::kFile;
    window->entered[slot] =
        kind == EntryKind::kFolder || (kind == EntryKind::kLink && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
}

// Jobs go to the pairs in the order the walk reaches them: the nearest entries first, and none
// behind a folder, whose own pairs come before them (jobs held there would starve its subtree).
void QueueWanted(EntryWindow* window) {
    const WindowFolder& f = window->folder;
    for (uint32_t i = 0; i < window->count; ++i) {
        uint32_t slot = (window->first + i) % EntryWindow::kMost;
        if (window->entered[slot]) return;
        if (!window->wanted[slot]) continue;
        PairPaths paths{f.folder1, f.length1, f.folder2, f.length2, window->entries[slot].cFileName};
        window->jobs[slot] = QueuePair(f.run->setup.Pool, *f.run, paths);
        if (!window->jobs[slot]) return;  // none free: the next release makes room
        window->wanted[slot] = false;
    }
}

// Reads entries until the window is full or the folder ends.
void FillWindow(EntryWindow* window) {
    while (!window->ended && window->count < window->capacity && !StopRequested()) {
        uint32_t slot = (window->first + window->count) % EntryWindow::kMost;
        if (!win.FindNextFileW(window->folder.find, &window->entries[slot])) {
            window->ended = true;
            window->endError = win.GetLastError();
            return;
        }
        ++window->count;
        Admit(window, slot);
    }
}

}  // namespace

EntryWindow* OpenWindow(const WindowFolder& folder, const WIN32_FIND_DATAW& firstEntry) {
    auto* window = static_cast<EntryWindow*>(AllocZeroed(sizeof(EntryWindow)));
    window->folder = folder;
    window->capacity = folder.run->setup.Pool ? EntryWindow::kMost : 1;
    window->entries[0] = firstEntry;
    window->count = 1;
    Admit(window, 0);
    if (window->capacity > 1) {
        FillWindow(window);
        QueueWanted(window);
    }
    return window;
}

bool TakeEntry(EntryWindow* window, WIN32_FIND_DATAW* entry, PairJob** job) {
    if (window->count == 0) FillWindow(window);
    if (window->count == 0) return false;
    const bool folder = window->entered[window->first];
    *entry = window->entries[window->first];
    *job = window->jobs[window->first];
    window->first = (window->first + 1) % EntryWindow::kMost;
    --window->count;
    // The next entries go in flight while this one is compared; one at a time, the next is read
    // only when it is wanted, after this one. Behind a folder they wait until its subtree is done.
    if (window->capacity > 1) {
        FillWindow(window);
        if (!folder) QueueWanted(window);
    }
    return true;
}

bool EndedInError(const EntryWindow* window, DWORD* error) {
    *error = window->endError;
    return window->ended && window->endError != ERROR_NO_MORE_FILES;
}

void CloseWindow(EntryWindow* window) {
    PairPool* pool = window->folder.run->setup.Pool;
    for (; window->count != 0; --window->count) {
        PairJob* job = window->jobs[window->first];
        if (job) {
            AwaitPair(pool, job);
            ReleasePair(pool, job);
        }
        window->first = (window->first + 1) % EntryWindow::kMost;
    }
    FreeBlock(window);
}
