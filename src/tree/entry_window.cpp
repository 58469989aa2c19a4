#include "tree/entry_window.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/workers.h"
#include "console/control_handler.h"
#include "platform/win_api.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/pairs_in_flight.h"
#include "tree/tree_walk.h"
#include "tree/wildcard.h"

// What the lister reads for a window, and where the folder's enumeration stands. Apart from the
// window and on the heap: a lister given up after a stop may write into it long after the walk
// left the folder, and it is then never freed nor read again, its search handle included.
struct EntryBatch {
    // A hand-off costs tens of microseconds under Wine, and more where the waiting thread must be
    // woken: entries go over in batches, and a folder of up to this many in one.
    static constexpr uint32_t kMost = 64;
    wchar_t* pattern;  // the folder and "*", for the first call
    HANDLE find;
    uint32_t count;  // entries the last call read
    bool ended;      // the enumeration said no more, or failed
    DWORD error;     // why the first entry could not be read, or why the enumeration ended
    WIN32_FIND_DATAW entries[kMost];
};

struct EntryWindow {
    static constexpr uint32_t kMost = 16;
    WindowFolder folder;
    EntryBatch* batch;
    uint32_t taken;  // entries of the batch already in the window
    bool givenUp;    // a stop gave up the wait for the lister, which keeps the batch
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

// On the lister: entries behind those the batch holds, until it is full, the folder ends or a stop.
void ReadMoreEntries(EntryBatch* batch) {
    while (batch->count < EntryBatch::kMost && !StopRequested()) {
        if (!win.FindNextFileW(batch->find, &batch->entries[batch->count])) {
            batch->ended = true;
            batch->error = win.GetLastError();
            return;
        }
        ++batch->count;
    }
}

// On the lister: the folder's first entry, and a batch behind it: most folders take one hand-off.
void ReadFirstEntry(void* request) {
    auto* batch = static_cast<EntryBatch*>(request);
    batch->find = win.FindFirstFileW(batch->pattern, &batch->entries[0]);
    batch->count = batch->find == INVALID_HANDLE_VALUE ? 0 : 1;
    batch->error = batch->count != 0 ? ERROR_SUCCESS : win.GetLastError();
    if (batch->count != 0) ReadMoreEntries(batch);
}

// On the lister: the next batch of entries.
void ReadEntries(void* request) {
    auto* batch = static_cast<EntryBatch*>(request);
    batch->count = 0;
    ReadMoreEntries(batch);
}

// Runs the call on the run's tree-1 lister, or here where no thread can be had. False when a stop
// gave up the wait: the batch is the lister's for good.
bool OnLister(RunState* run, WorkerCall call, EntryBatch* batch) {
    CallWorker** lister = &run->helpers.lister[0];
    if (!PostCall(lister, call, batch)) {
        call(batch);
        return true;
    }
    return AwaitCall(lister, StopRequested);
}

// Has the lister read the next batch. False when the folder gives no more: it ended, a stop gave
// up the lister, or a stop came before the batch's first entry.
bool RefillBatch(EntryWindow* window) {
    EntryBatch* batch = window->batch;
    if (!batch->ended) {
        window->taken = 0;
        if (!OnLister(window->folder.run, ReadEntries, batch)) {
            window->givenUp = true;
            window->ended = true;
            window->endError = ERROR_OPERATION_ABORTED;
            return false;
        }
        if (batch->count != 0) return true;
    }
    if (batch->ended) {
        window->ended = true;
        window->endError = batch->error;
    }
    return false;
}

// Takes entries into the window until it is full or the folder ends.
void FillWindow(EntryWindow* window) {
    while (!window->ended && window->count < window->capacity && !StopRequested()) {
        if (window->taken == window->batch->count && !RefillBatch(window)) return;
        uint32_t slot = (window->first + window->count) % EntryWindow::kMost;
        window->entries[slot] = window->batch->entries[window->taken++];
        ++window->count;
        Admit(window, slot);
    }
}

}  // namespace

EntryWindow* OpenWindow(const WindowFolder& folder, DWORD* error, bool* givenUp) {
    auto* batch = static_cast<EntryBatch*>(AllocZeroed(sizeof(EntryBatch)));
    // A copy the lister owns, as it may read it after the walk left the folder.
    batch->pattern = static_cast<wchar_t*>(AllocZeroed((folder.length1 + 2) * sizeof(wchar_t)));
    memcpy(batch->pattern, folder.folder1, folder.length1 * sizeof(wchar_t));
    batch->pattern[folder.length1] = L'*';
    *givenUp = !OnLister(folder.run, ReadFirstEntry, batch);
    if (*givenUp) return nullptr;
    FreeBlock(batch->pattern);
    batch->pattern = nullptr;
    if (batch->count == 0) {
        *error = batch->error;
        FreeBlock(batch);
        return nullptr;
    }
    auto* window = static_cast<EntryWindow*>(AllocZeroed(sizeof(EntryWindow)));
    window->folder = folder;
    window->batch = batch;
    window->capacity = folder.run->setup.Pool ? EntryWindow::kMost : 1;
    window->entries[0] = batch->entries[0];
    window->taken = 1;
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
    // The next entries go in flight while this one is compared; one at a time, the next is taken
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
    if (!window->givenUp) {
        win.FindClose(window->batch->find);
        FreeBlock(window->batch);
    }
    FreeBlock(window);
}
