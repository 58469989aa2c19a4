// The names in one tree-2 folder, read by a helper thread while the walk opens the tree-1 folder,
// so that the walk can tell whether a tree-1 sub-folder exists in tree 2.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// One slot of the listing's name table: the case-folded hash of a name and its place plus one
// (0 for a free slot).
struct ListingSlot {
    uint32_t hash;
    uint32_t place;
};

struct CallWorker;
struct NameBlock;

struct FolderListing {
    wchar_t* folder;  // with a trailing backslash
    wchar_t* mask;
    wchar_t** names;  // null for an empty or unreadable folder
    bool* isFolder;   // of each name: the entry is a folder (a link to one included)
    bool* isLink;     // of each name: the entry is a reparse point (a junction, a link, a mount)
    bool* seen;       // of each name, with -b: tree 1 has an entry of that name
    uint64_t count;
    uint64_t capacity;      // of names; it doubles as it fills
    NameBlock* nameBlocks;  // the characters of the names, many names a block
    bool complete;          // every entry was read to the end of the folder
    ListingSlot* slots;     // open addressing over the names, so a lookup costs no scan
    uint32_t slotCount;     // 0 (no table: names are scanned) or a power of two
};

// Fills folder and mask and reads the names: on `lister` when one is given and its thread can be
// had, else at once. True when the call went to the lister: the caller awaits it (AwaitCall) before
// it reads the listing, which is the lister's until then.
bool StartFolderListing(FolderListing* listing, const wchar_t* folder, const wchar_t* mask, CallWorker** lister);

// Stores the names of the folders and of the files that match the mask, in one pass. Returns the
// count.
uint64_t ReadFolderListing(FolderListing* listing);

// Adds a name behind those stored: no allocation per name, and none at all for most.
void AddListingName(FolderListing* listing, const wchar_t* name, bool isFolder = false, bool isLink = false);

// Builds the name table over the names read, with slots for twice as many, so chains stay short;
// a listing too large to number keeps none and is scanned.
void IndexListingNames(FolderListing* listing);

// The first stored name equal to `name` without regard to case, file or folder alike; null if none.
// Only names whose case-folded hash is that of `name` are compared. `isFolder` and `isLink`, when
// given, tell whether the entry found is a folder and whether it is a reparse point.
const wchar_t* FindListingEntry(const FolderListing* listing, const wchar_t* name, bool* isFolder = nullptr,
                                bool* isLink = nullptr);

// Notes that tree 1 has an entry named `name`, and whether it had one for the name at `place`.
void MarkListed(FolderListing* listing, const wchar_t* name);
bool WasListed(const FolderListing* listing, uint64_t place);

// Frees what the listing holds, not the listing itself.
void FreeFolderListing(FolderListing* listing);

// FindFirstFileExW with the cheapest information level the system has, falling back to
// FindFirstFileW where the extended call does not know the path form.
HANDLE OpenFolderEnumeration(const wchar_t* pattern, WIN32_FIND_DATAW* data);

// "." or "..".
bool IsDotEntry(const wchar_t* name);
