#include "tree/tree_walk.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/scoped_handles.h"
#include "base/workers.h"
#include "compare/compare_pair.h"
#include "compare/error_names.h"
#include "compare/file_identity.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/prompts.h"
#include "console/status_line.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"
#include "tree/entry_window.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/pairs_in_flight.h"
#include "tree/reparse_points.h"
#include "tree/pair_sums.h"
#include "tree/result_list.h"
#include "tree/tree_strings.h"
#include "tree/wildcard.h"

bool Recursing(const RunState& run) { return Options.recurse && !run.NoMoreRecursion; }

namespace {

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

// A folder's line in the result list: its path relative to the root, with its backslash.
void WriteFolderResult(RunState* run, const wchar_t* folder, const wchar_t* base, char mark, const char* why) {
    const wchar_t* shown = RelativeToBase(folder, base);
    WriteResult(run, mark, *shown ? shown : L".\\", why);
}

// "cannot open '%S' err=%u\n\n" for a folder path of any length; a long one is not cut short.
void PrintCannotOpen(const wchar_t* path, DWORD error) {
    if (wcslen(path) + 40 < static_cast<size_t>(kFormatLimit)) {
        PrintOut("cannot open '%S' err=%u\n\n", path, error);
        return;
    }
    PrintOutLongPath("cannot open '%S'", path);
    PrintOut(" err=%u\n\n", error);
}

// A tree-1 folder that could not be listed, or not to its end (`part`): named, counted and listed.
void NoteUnlisted(RunState* run, const wchar_t* folder1, const wchar_t* pattern, DWORD error, const char* part) {
    PrintCannotOpen(SkipLongPathPrefix(pattern), error);
    ++run->counts.FoldersUnreadable;
    char why[64];
    snprintf(why, sizeof why, "%s listing the folder%s", ErrorName(error), part);
    WriteFolderResult(run, folder1, run->BaseFolder1, '!', why);
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
    const wchar_t* shown = RelativeToBase(level.path1, level.run->BaseFolder1);
    if (ReplicateLink(*level.run, level.path1, level.path2, isFolder)) {
        ++*count;
        // Attributes go only to what this run reproduced, never to an entry it kept.
        win.SetFileAttributesW(level.path2, entry.dwFileAttributes);
        WriteResult(level.run, '>', shown);
    } else {
        // Whatever tree 2 holds at that name was not compared.
        ++level.run->counts.LinksFailed;
        WriteResult(level.run, '!', shown, "link not reproduced in tree 2");
    }
    return true;
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
    WritePairResult(level.run, outcome, RelativeToBase(level.path1, level.run->BaseFolder1));
    WritePairSum(level.run, outcome, RelativeToBase(level.path1, level.run->BaseFolder1));
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
    bool isLink = false;
    bool listed = FindListingEntry(&listing, name, &listedAsFolder, &isLink) != nullptr;
    if (!listedAsFolder) {
        // A file of that name is no folder. A name that a listing which ended early lacks proves
        // nothing: the folder itself is asked.
        bool ask = !listed && !listing.complete;
        DWORD attributes = ask ? win.GetFileAttributesW(level->path2) : INVALID_FILE_ATTRIBUTES;
        isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DWORD error = ask ? win.GetLastError() : ERROR_PATH_NOT_FOUND;
            bool missing =
                attributes != INVALID_FILE_ATTRIBUTES || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            if (missing) {
                PrintOutLongPath("folder2 not found: %S\n", level->path2);
                ++level->run->counts.FoldersMissing;
                WriteFolderResult(level->run, level->path2, level->run->BaseFolder2, '-', nullptr);
            } else {
                PrintCannotOpen(level->path2, error);
                ++level->run->counts.FoldersUnreadable;
                char why[64];
                snprintf(why, sizeof why, "%s opening the tree-2 folder", ErrorName(error));
                WriteFolderResult(level->run, level->path2, level->run->BaseFolder2, '!', why);
            }
            return 0;
        }
    }
    // Its files are compared wherever it leads, but no link of tree 1 is written into it.
    level->run->Tree2LinksOnPath += isLink;
    uint32_t count = CompareFolderTree(level->run, level->path1, mask, level->path2, depth + 1);
    level->run->Tree2LinksOnPath -= isLink;
    return count;
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

namespace {

// The tree-2 folder's names, read by a lister of its own while tree 1 is opened; waited for and
// released on every way out. A thread per folder, as measured under Wine, costs less here than a
// hand-off to a persistent one whose thread sleeps between folders. The listing lives on the heap:
// a lister given up after a stop writes into it once its call returns, long after this frame is
// gone, and keeps its worker.
struct Tree2Listing {
    CallWorker* own = nullptr;
    CallWorker** lister = &own;
    FolderListing& listing = *static_cast<FolderListing*>(AllocZeroed(sizeof(FolderListing)));
    bool posted;
    bool abandoned = false;  // a stop came while the lister still listed: never read or freed
    Tree2Listing(RunState*, const wchar_t* folder2, const wchar_t* mask)
        : posted(StartFolderListing(&listing, folder2, mask, lister)) {}
    // False when the listing must not be read.
    bool Wait() {
        if (posted) abandoned = !AwaitCall(lister, StopRequested);
        if (posted && !abandoned) StopCallWorker(lister, StopRequested);
        posted = false;
        return !abandoned;
    }
    ~Tree2Listing() {
        if (!Wait()) return;
        FreeFolderListing(&listing);
        FreeBlock(&listing);
    }
};

// With -b, what the tree-2 folder holds that tree 1 lacks, after the same masks and exclude
// masks: named on a line, counted, and a difference of the copy.
void ReportOnlyInTree2(RunState* run, const FolderListing* listing, const wchar_t* folder2) {
    // Beyond where its listing ended, what only tree 2 holds is not known: no proof of none.
    if (!listing->complete) {
        PrintOutLongPath("folder2 not listed to its end, what only it holds is unknown: %S\n",
                         SkipLongPathPrefix(folder2));
        ++run->counts.FoldersUnreadable;
        WriteFolderResult(run, folder2, run->BaseFolder2, '!', "tree-2 folder not listed to its end");
    }
    ScopedBlock<wchar_t> path(DuplicateStringWithRoom(folder2, MAX_PATH + 2));
    size_t length = wcslen(folder2);
    for (uint64_t place = 0; place < listing->count; ++place) {
        const wchar_t* name = listing->names[place];
        bool isFolder = listing->isFolder[place];
        if (WasListed(listing, place) || IsExcluded(name) || (isFolder && !Recursing(*run))) continue;
        size_t nameLength = wcslen(name);
        memcpy(path.get() + length, name, nameLength * sizeof(wchar_t));
        path.get()[length + nameLength] = isFolder ? L'\\' : 0;
        path.get()[length + nameLength + 1] = 0;
        const wchar_t* shown = RelativeToBase(path.get(), run->BaseFolder2);
        if (!Options.quiet) PrintOutLongPath("only in tree 2: %S\n", shown);
        ++(isFolder ? run->counts.FoldersOnlyIn2 : run->counts.FilesOnlyIn2);
        WriteResult(run, '+', shown);
    }
}

// A job that the entry does not use after all goes back at the end of its step.
struct JobGoesBack {
    PairPool* pool;
    PairJob** job;
    ~JobGoesBack() {
        if (!*job) return;
        AwaitPair(pool, *job);
        ReleasePair(pool, *job);
    }
};

// The entries of one folder, each as its kind says. Returns the pairs compared and the links
// reproduced, below it included.
uint32_t WalkEntries(Level* level, EntryWindow* window, FolderListing* listing, const wchar_t* mask, int32_t depth) {
    RunState* run = level->run;
    uint32_t count = 0;
    WIN32_FIND_DATAW entry;
    PairJob* job = nullptr;
    while (!StopRequested() && TakeEntry(window, &entry, &job)) {
        JobGoesBack unused{run->setup.Pool, &job};
        const wchar_t* name = entry.cFileName;
        if (Options.bothWays) MarkListed(listing, name);
        EntryKind kind = KindOfEntry(*run, entry, mask, level->folder1Length);
        if (kind == EntryKind::kDots || kind == EntryKind::kIgnored) continue;
        if (kind == EntryKind::kExcluded) {
            if (!Options.quiet) PrintOut("%S\n skipped by exclude list\n", name);
            continue;
        }
        if (kind == EntryKind::kTooLong) {
            PrintErr("path too long (max %i) -> abort\n", kMaxTreePathChars);
            AbortFlag.store(1);
            run->NoMoreRecursion = true;
            continue;
        }
        size_t nameLength = wcslen(name);
        PutName(level->path1, level->folder1Length, name, nameLength);
        PutName(level->path2, level->folder2Length, name, nameLength);
        if (kind == EntryKind::kLink) {
            if (HandledAsLink(*level, entry, mask, &count)) continue;
            // Followed: the link is the file or folder it leads to.
            bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            kind = isFolder ? EntryKind::kFolder : WildcardMatch(name, mask) ? EntryKind::kFile : EntryKind::kIgnored;
        }
        if (kind == EntryKind::kFile) {
            count += CompareFile(*level, job);
            job = nullptr;
        } else if (kind == EntryKind::kFolder) {
            count += EnterFolder(level, name, nameLength, *listing, mask, depth);
        }
    }
    return count;
}

}  // namespace

uint32_t CompareFolderTree(RunState* run, wchar_t* folder1, const wchar_t* mask, wchar_t* folder2, int32_t depth) {
    AppendCharIfMissing(folder1, L'\\', wcslen(folder1) + 2);
    AppendCharIfMissing(folder2, L'\\', wcslen(folder2) + 2);
    PathEntry path(run, folder1);
    if (path.again) {
        PrintOutLongPath("folder reached again below itself, not compared: %S\n", SkipLongPathPrefix(folder1));
        ++run->counts.FoldersUnreadable;
        WriteFolderResult(run, folder1, run->BaseFolder1, '!', "folder reached again below itself");
        return 0;
    }
    Tree2Listing tree2(run, folder2, mask);
    // Room for the longest name and the backslash and terminator of a nested level.
    ScopedBlock<wchar_t> path1(DuplicateStringWithRoom(folder1, MAX_PATH + 2));
    ScopedBlock<wchar_t> path2(DuplicateStringWithRoom(folder2, MAX_PATH + 2));
    Level level{run, path1.get(), path2.get(), wcslen(folder1), wcslen(folder2)};
    level.path1[level.folder1Length] = L'*';
    level.path1[level.folder1Length + 1] = 0;

    WindowFolder folder{run, mask, level.path1, level.folder1Length, level.path2, level.folder2Length};
    DWORD error = ERROR_SUCCESS;
    bool givenUp = false;
    EntryWindow* window = OpenWindow(folder, &error, &givenUp);
    if (!window) {
        // A folder without a single entry, not even "." (a root), is empty, not unreadable. One
        // whose lister was given up after a stop is left as the stop leaves any other.
        if (error == ERROR_FILE_NOT_FOUND) PrintCannotOpen(SkipLongPathPrefix(level.path1), error);
        if (error != ERROR_FILE_NOT_FOUND && !givenUp) NoteUnlisted(run, folder1, level.path1, error, "");
        return 0;
    }
    if (!tree2.Wait()) {
        CloseWindow(window);
        return 0;
    }
    uint32_t count = WalkEntries(&level, window, &tree2.listing, mask, depth);
    // Anything but the end of the folder leaves its other entries unseen.
    bool failed = EndedInError(window, &error);
    CloseWindow(window);
    if (!StopRequested() && failed) NoteUnlisted(run, folder1, level.path1, error, " to its end");
    // What tree 1 could not list to its end may be there after all.
    if (Options.bothWays && !StopRequested() && !failed) ReportOnlyInTree2(run, &tree2.listing, folder2);
    return count;
}
