// The entries of a tree-1 folder read ahead of the one being compared, so that the pairs behind
// it can be in flight: each file the walk will compare gets a job when one is free, nearest
// first. Without workers the window holds one entry. The folder itself is read by the run's
// tree-1 lister, a batch of entries a hand-off, so that a folder on a share that no longer
// answers holds a helper thread, not the walk, once a stop came.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "platform/windows.h"

struct PairJob;

// What the walk will do with an entry, decided in one place for the walk and for the window.
enum class EntryKind {
    kDots,      // "." or ".."
    kExcluded,  // matched by an exclude mask
    kTooLong,   // its path would pass the longest path a tree may have
    kLink,      // a reparse point met while recursing: reproduced in tree 2, or followed
    kFile,      // a file that matches the mask: a pair to compare
    kFolder,    // a folder to enter
    kIgnored,   // a file the mask leaves out, or a folder without recursion
};

EntryKind KindOfEntry(const RunState& run, const WIN32_FIND_DATAW& entry, const wchar_t* mask, size_t folderLength);

// The folder a window reads, and both folders' paths (with their trailing backslash, `length`
// characters long) that the names go behind.
struct WindowFolder {
    RunState* run;
    const wchar_t* mask;
    const wchar_t* folder1;
    size_t length1;
    const wchar_t* folder2;
    size_t length2;
};

struct EntryWindow;

// Opens the tree-1 folder and takes its first entry; reads ahead and hands out jobs. Null when the
// folder could not be opened, with `*error` telling why, or when a stop gave up the wait for the
// lister (`*givenUp`): the folder is then left as stopped.
EntryWindow* OpenWindow(const WindowFolder& folder, DWORD* error, bool* givenUp);

// The next entry and its job (null for none); false at the end of the folder.
bool TakeEntry(EntryWindow* window, WIN32_FIND_DATAW* entry, PairJob** job);

// Whether the folder's enumeration ended with an error, and which: its other entries are unseen.
// A stop that gave up the wait for the lister ends it with ERROR_OPERATION_ABORTED.
bool EndedInError(const EntryWindow* window, DWORD* error);

// Jobs the walk did not reach (a stop, a limit) are waited for and handed back; the folder is
// closed unless its lister was given up.
void CloseWindow(EntryWindow* window);
