#include "tree/tree_walk.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/waits.h"
#include "compare/compare_pair.h"
#include "compare/file_identity.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/prompts.h"
#include "console/status_line.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/pairs_in_flight.h"
#include "tree/reparse_points.h"
#include "tree/tree_strings.h"
#include "tree/wildcard.h"

namespace {

// Sub-folders are entered, links reproduced: a folder run, until a path too long to go deeper.
bool Recursing(const RunState& run) { return Options.recurse && !run.NoMoreRecursion; }

// One level of the walk. Both paths of the current entry are built behind their folder in a
// buffer of the level, so that no entry costs an allocation; a nested level takes them over as
// its folders.
struct Level {
    RunState* run;
    wchar_t* path1;
    wchar_t* path2;
    size_t folder1Length;
    size_t folder2Length;
};

// "cannot open '%S' err=%u\n\n" for a folder path of any length; a long one is not cut short.
void PrintCannotOpen(const wchar_t* path, DWORD error) {
    if (wcslen(path) + 40 < static_cast<size_t>(kFormatLimit)) {
        PrintOut("cannot open '%S' err=%u\n\n", path, error);
        return;
    }
    PrintOutLongPath("cannot open '%S'", path);
    PrintOut(" err=%u\n\n", error);
}

void PutName(wchar_t* buffer, size_t at, const wchar_t* name, size_t nameLength) {
    memcpy(buffer + at, name, (nameLength + 1) * sizeof(wchar_t));
}

// With -p, a link whose target lies on another volume than tree 2 is followed like any entry;
// otherwise the link is reproduced in tree 2 and the entry is done. Returns whether it is done.
bool HandledAsLink(const Level& level, const WIN32_FIND_DATAW& entry, const wchar_t* mask, uint32_t* count) {
    wchar_t* target = ReadLinkTarget(level.path1);
    if (!target) return false;
    bool reproduce = !Options.parseReparsePoints || OnSameVolume(level.path2, target);
    FreeBlock(target);
    if (!reproduce) return false;
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!isFolder && !WildcardMatch(entry.cFileName, mask)) return true;
    if (ReplicateLink(*level.run, level.path1, level.path2, isFolder)) {
        ++*count;
        // Attributes go only to what this run reproduced, never to an entry it kept.
        win.SetFileAttributesW(level.path2, entry.dwFileAttributes);
    } else {
        // Whatever tree 2 holds at that name was not compared.
        ++level.run->counts.LinksFailed;
    }
    return true;
}

// The entries of a tree-1 folder read ahead of the one being compared, so that the pairs behind
// it can be in flight; each file to compare gets a job when one is free. Without workers it holds
// one entry: the walk reads the folder as it always did.
struct EntryWindow {
    static constexpr uint32_t kMost = 16;
    HANDLE find;
    uint32_t capacity;
    uint32_t first;
    uint32_t count;
    bool ended;      // the enumeration said no more, or failed
    DWORD endError;  // ERROR_NO_MORE_FILES, or why it failed
    WIN32_FIND_DATAW entries[kMost];
    PairJob* jobs[kMost];
    bool wanted[kMost];  // a file the walk will compare, still without a job
};

// Whether the walk will compare this entry as a file pair: the same tests, in the same order, as
// the walk makes when it reaches it.
bool WillCompare(const RunState& run, const WIN32_FIND_DATAW& entry, const wchar_t* mask, size_t folderLength) {
    const wchar_t* name = entry.cFileName;
    if (IsDotEntry(name) || IsExcluded(name)) return false;
    if (folderLength + wcslen(name) >= static_cast<size_t>(kMaxTreePathChars)) return false;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (Recursing(run) && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    return WildcardMatch(name, mask);
}

void Admit(EntryWindow* window, uint32_t slot, const Level& level, const wchar_t* mask) {
    window->jobs[slot] = nullptr;
    window->wanted[slot] =
        level.run->setup.Pool && WillCompare(*level.run, window->entries[slot], mask, level.folder1Length);
}

// Jobs go to the nearest entries first: those the walk reaches next.
void QueueWanted(EntryWindow* window, const Level& level) {
    for (uint32_t i = 0; i < window->count; ++i) {
        uint32_t slot = (window->first + i) % EntryWindow::kMost;
        if (!window->wanted[slot]) continue;
        PairPaths paths{level.path1, level.folder1Length, level.path2, level.folder2Length,
                        window->entries[slot].cFileName};
        window->jobs[slot] = QueuePair(level.run->setup.Pool, *level.run, paths);
        if (!window->jobs[slot]) return;  // none free: the next release makes room
        window->wanted[slot] = false;
    }
}

// Reads entries until the window is full or the folder ends.
void FillWindow(EntryWindow* window, const Level& level, const wchar_t* mask) {
    while (!window->ended && window->count < window->capacity && !StopRequested()) {
        uint32_t slot = (window->first + window->count) % EntryWindow::kMost;
        if (!win.FindNextFileW(window->find, &window->entries[slot])) {
            window->ended = true;
            window->endError = win.GetLastError();
            return;
        }
        ++window->count;
        Admit(window, slot, level, mask);
    }
}

EntryWindow* OpenWindow(HANDLE find, const WIN32_FIND_DATAW& firstEntry, const Level& level, const wchar_t* mask) {
    auto* window = static_cast<EntryWindow*>(AllocZeroed(sizeof(EntryWindow)));
    window->find = find;
    window->capacity = level.run->setup.Pool ? EntryWindow::kMost : 1;
    window->entries[0] = firstEntry;
    window->count = 1;
    Admit(window, 0, level, mask);
    if (window->capacity > 1) {
        FillWindow(window, level, mask);
        QueueWanted(window, level);
    }
    return window;
}

// The next entry and its job (null for none); false at the end of the folder.
bool TakeEntry(EntryWindow* window, const Level& level, const wchar_t* mask, WIN32_FIND_DATAW* entry, PairJob** job) {
    if (window->count == 0) FillWindow(window, level, mask);
    if (window->count == 0) return false;
    *entry = window->entries[window->first];
    *job = window->jobs[window->first];
    window->first = (window->first + 1) % EntryWindow::kMost;
    --window->count;
    // The next entries go in flight while this one is compared; one at a time, the next is read
    // only when it is wanted, after this one.
    if (window->capacity > 1) {
        FillWindow(window, level, mask);
        QueueWanted(window, level);
    }
    return true;
}

// Jobs the walk did not reach (a stop, a limit) are waited for and handed back.
void CloseWindow(EntryWindow* window, PairPool* pool) {
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

uint32_t CompareFile(const Level& level, PairJob* job) {
    if (!Options.quiet) {
        const wchar_t* shown1 = RelativeToBase(level.path1, level.run->BaseFolder1);
        const wchar_t* shown2 = RelativeToBase(level.path2, level.run->BaseFolder2);
        // Deep trees have paths far beyond the formatter's limit: such a line goes out in two
        // pieces of any length, with the same bytes, instead of losing its end and line feed.
        if (wcslen(shown1) + wcslen(shown2) + 16 < static_cast<size_t>(kFormatLimit)) {
            PrintOutW(L"Comparing %s with %s\n", shown1, shown2);
        } else {
            PrintOutLongPath("Comparing %S", shown1);
            PrintOutLongPath(" with %S\n", shown2);
        }
    }
    PairPool* pool = level.run->setup.Pool;
    PairSides* ahead = job ? AwaitPair(pool, job) : nullptr;
    if (job && !ahead && StopRequested()) {
        // Stopped while a worker had the pair: it was not compared, and is not counted.
        ReleasePair(pool, job);
        return 0;
    }
    CompareOutcome outcome = CompareFilePair(level.run, level.path1, level.path2, false, ahead);
    if (job) ReleasePair(pool, job);
    ++level.run->counts.ResultCounters[outcome];
    CheckPauseKey();
    return 1;
}

uint32_t EnterFolder(Level* level, const wchar_t* name, size_t nameLength, const FolderListing& listing,
                     const wchar_t* mask, int32_t depth) {
    if (!Options.quiet) {
        ClearStatusLine();
        size_t baseLength = wcslen(level->run->BaseFolder1);
        const wchar_t* shown = wcslen(level->path1) > baseLength ? level->path1 + baseLength : level->path1;
        PrintOutLongPath("processing folder: %S\n", SkipLongPathPrefix(shown));
    }
    if (depth >= kMaxTreeDepth) {
        PrintOut("path nested too deep (max %i) -> abort\n", kMaxTreeDepth);
        AbortFlag.store(1);
        return 0;
    }
    // The tree-2 path carries its trailing backslash, as the message shows it; the level's buffer
    // has room for it behind any name.
    level->path2[level->folder2Length + nameLength] = L'\\';
    level->path2[level->folder2Length + nameLength + 1] = 0;
    bool listedAsFolder = false;
    bool listed = FindListingEntry(&listing, name, &listedAsFolder) != nullptr;
    if (!listedAsFolder) {
        // A file of that name is no folder. A name that a listing which ended early lacks proves
        // nothing: the folder itself is asked.
        bool ask = !listed && !listing.complete;
        DWORD attributes = ask ? win.GetFileAttributesW(level->path2) : INVALID_FILE_ATTRIBUTES;
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DWORD error = ask ? win.GetLastError() : ERROR_PATH_NOT_FOUND;
            bool missing =
                attributes != INVALID_FILE_ATTRIBUTES || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            if (missing) {
                PrintOutLongPath("folder2 not found: %S\n", level->path2);
                ++level->run->counts.FoldersMissing;
            } else {
                PrintCannotOpen(level->path2, error);
                ++level->run->counts.FoldersUnreadable;
            }
            return 0;
        }
    }
    return CompareFolderTree(level->run, level->path1, mask, level->path2, depth + 1);
}

}  // namespace

// A tree-1 folder on the way from the root to the one being walked.
struct FolderOnPath {
    FileId id;
    const FolderOnPath* outer;
};

namespace {

// Puts the folder on the run's path for as long as it is walked, unless it is on it already: a
// link, junction or mount that leads back up would have the walk go round until the depth limit,
// and, where a cycle can be reached two ways, down exponentially many paths.
struct PathEntry {
    RunState* run;
    FolderOnPath here;
    bool entered = false;
    bool again = false;
    PathEntry(RunState* r, const wchar_t* folder) : run(r), here{{}, r->FolderPath} {
        // A folder whose identity cannot be read is walked as before.
        if (!ReadPathId(folder, &here.id)) return;
        for (const FolderOnPath* at = run->FolderPath; at && !again; at = at->outer) {
            again = IsOneFile({{at->id, here.id}});
        }
        if (again) return;
        run->FolderPath = &here;
        entered = true;
    }
    ~PathEntry() {
        if (entered) run->FolderPath = here.outer;
    }
};

}  // namespace

uint32_t CompareFolderTree(RunState* run, wchar_t* folder1, const wchar_t* mask, wchar_t* folder2, int32_t depth) {
    size_t length1 = wcslen(folder1), length2 = wcslen(folder2);
    AppendCharIfMissing(folder1, L'\\', length1 + 2);
    AppendCharIfMissing(folder2, L'\\', length2 + 2);
    length1 = wcslen(folder1);
    length2 = wcslen(folder2);
    PathEntry path(run, folder1);
    if (path.again) {
        PrintOutLongPath("folder reached again below itself, not compared: %S\n", SkipLongPathPrefix(folder1));
        ++run->counts.FoldersUnreadable;
        return 0;
    }

    FolderListing listing;
    HANDLE listingThread = nullptr;
    StartFolderListing(&listing, folder2, mask, &listingThread);

    // Room for the longest name and the backslash and terminator of a nested level.
    Level level;
    level.run = run;
    level.path1 = DuplicateStringWithRoom(folder1, MAX_PATH + 2);
    level.path2 = DuplicateStringWithRoom(folder2, MAX_PATH + 2);
    level.folder1Length = length1;
    level.folder2Length = length2;
    level.path1[length1] = L'*';
    level.path1[length1 + 1] = 0;

    uint32_t count = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = win.FindFirstFileW(level.path1, &entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = win.GetLastError();
        PrintCannotOpen(SkipLongPathPrefix(level.path1), error);
        // A folder without a single entry, not even "." (a root), is empty, not unreadable.
        if (error != ERROR_FILE_NOT_FOUND) ++run->counts.FoldersUnreadable;
    }
    if (listingThread) {
        WaitUntilSignalled(listingThread);
        win.CloseHandle(listingThread);
    }
    if (find != INVALID_HANDLE_VALUE) {
        EntryWindow* window = OpenWindow(find, entry, level, mask);
        PairJob* job = nullptr;
        while (!StopRequested() && TakeEntry(window, level, mask, &entry, &job)) {
            // A job that this entry does not use after all goes back at the end of the step.
            struct Unused {
                PairPool* pool;
                PairJob** job;
                ~Unused() {
                    if (*job) {
                        AwaitPair(pool, *job);
                        ReleasePair(pool, *job);
                    }
                }
            } unused{run->setup.Pool, &job};
            const wchar_t* name = entry.cFileName;
            if (IsDotEntry(name)) continue;
            if (IsExcluded(name)) {
                if (!Options.quiet) PrintOut("%S\n skipped by exclude list\n", name);
                continue;
            }
            size_t nameLength = wcslen(name);
            if (length1 + nameLength >= static_cast<size_t>(kMaxTreePathChars)) {
                PrintErr("path too long (max %i) -> abort\n", kMaxTreePathChars);
                AbortFlag.store(1);
                level.run->NoMoreRecursion = true;
                continue;
            }
            PutName(level.path1, length1, name, nameLength);
            PutName(level.path2, length2, name, nameLength);
            bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (Recursing(*run) && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                HandledAsLink(level, entry, mask, &count)) {
                continue;
            }
            if (!isFolder) {
                if (WildcardMatch(name, mask)) {
                    count += CompareFile(level, job);
                    job = nullptr;
                }
            } else if (Recursing(*run)) {
                count += EnterFolder(&level, name, nameLength, listing, mask, depth);
            }
        }
        // Anything but the end of the folder leaves its other entries unseen.
        bool failed = window->ended && window->endError != ERROR_NO_MORE_FILES;
        DWORD error = window->endError;
        CloseWindow(window, run->setup.Pool);
        if (!StopRequested() && failed) {
            PrintCannotOpen(SkipLongPathPrefix(level.path1), error);
            ++run->counts.FoldersUnreadable;
        }
        win.FindClose(find);
    }
    FreeBlock(level.path1);
    FreeBlock(level.path2);
    FreeFolderListing(&listing);
    return count;
}
