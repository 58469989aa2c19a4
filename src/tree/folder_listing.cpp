#include "tree/folder_listing.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/os_version.h"
#include "base/workers.h"
#include "console/control_handler.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "tree/tree_strings.h"
#include "tree/wildcard.h"

// A block of name characters and its header; the characters follow the header.
struct NameBlock {
    NameBlock* previous;
    size_t used;  // characters, terminators included
    wchar_t* Chars() { return reinterpret_cast<wchar_t*>(this + 1); }
};

namespace {

// FNV-1a over the upper-case form of each character: names that differ only in case meet in one
// chain, where the same folding decides.
uint32_t FoldedHash(const wchar_t* name) {
    uint32_t hash = 2166136261u;
    for (; *name; ++name) hash = (hash ^ UpperCaseChar(*name)) * 16777619u;
    return hash;
}

constexpr uint64_t kFirstCapacity = 64;
constexpr size_t kNameBlockChars = 16384;  // room for dozens of the longest names

void ListingCall(void* listing) { ReadFolderListing(static_cast<FolderListing*>(listing)); }

}  // namespace

bool IsDotEntry(const wchar_t* name) { return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)); }

HANDLE OpenFolderEnumeration(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
    // From Windows 7 on: no short names, and bigger fetches per call into the file system.
    bool basic = OsVersion.code >= 0x601;
    HANDLE find = win.FindFirstFileExW(pattern, basic ? FindExInfoBasic : FindExInfoStandard, data,
                                       FindExSearchNameMatch, nullptr, basic ? FIND_FIRST_EX_LARGE_FETCH : 0);
    if (find == INVALID_HANDLE_VALUE && win.GetLastError() == ERROR_PATH_NOT_FOUND) {
        find = win.FindFirstFileW(pattern, data);
    }
    return find;
}

bool StartFolderListing(FolderListing* listing, const wchar_t* folder, const wchar_t* mask, CallWorker** lister) {
    listing->folder = DuplicateStringWithRoom(folder, 1);
    AppendCharIfMissing(listing->folder, L'\\', wcslen(folder) + 2);
    listing->mask = DuplicateString(mask);
    listing->names = nullptr;
    listing->isFolder = nullptr;
    listing->isLink = nullptr;
    listing->seen = nullptr;
    listing->count = 0;
    listing->capacity = 0;
    listing->nameBlocks = nullptr;
    listing->slots = nullptr;
    listing->slotCount = 0;
    listing->complete = false;
    if (lister && PostCall(lister, ListingCall, listing)) return true;
    // Without a thread the names are read here, and there is nothing to wait for.
    ReadFolderListing(listing);
    return false;
}

void IndexListingNames(FolderListing* listing) {
    if (listing->count == 0 || listing->count >= (uint64_t{1} << 30)) return;
    uint32_t slotCount = 16;
    while (slotCount < listing->count * 2) slotCount *= 2;
    listing->slots = static_cast<ListingSlot*>(AllocZeroed(uint64_t{slotCount} * sizeof(ListingSlot)));
    listing->slotCount = slotCount;
    uint32_t mask = slotCount - 1;
    for (uint32_t place = 0; place < listing->count; ++place) {
        uint32_t hash = FoldedHash(listing->names[place]);
        uint32_t at = hash & mask;
        while (listing->slots[at].place != 0) at = (at + 1) & mask;
        listing->slots[at] = {hash, place + 1};
    }
}

void AddListingName(FolderListing* listing, const wchar_t* name, bool isFolder, bool isLink) {
    size_t chars = wcslen(name) + 1;
    NameBlock* block = listing->nameBlocks;
    if (!block || block->used + chars > kNameBlockChars) {
        block = static_cast<NameBlock*>(AllocZeroed(sizeof(NameBlock) + kNameBlockChars * sizeof(wchar_t)));
        block->previous = listing->nameBlocks;
        listing->nameBlocks = block;
    }
    if (listing->count == listing->capacity) {
        uint64_t capacity = listing->capacity ? listing->capacity * 2 : kFirstCapacity;
        auto** names = static_cast<wchar_t**>(AllocZeroed(capacity * sizeof(wchar_t*)));
        auto* folders = static_cast<bool*>(AllocZeroed(capacity * sizeof(bool)));
        auto* links = static_cast<bool*>(AllocZeroed(capacity * sizeof(bool)));
        if (listing->count) {
            memcpy(names, listing->names, listing->count * sizeof(wchar_t*));
            memcpy(folders, listing->isFolder, listing->count * sizeof(bool));
            memcpy(links, listing->isLink, listing->count * sizeof(bool));
        }
        FreeBlock(listing->names);
        FreeBlock(listing->isFolder);
        FreeBlock(listing->isLink);
        listing->names = names;
        listing->isFolder = folders;
        listing->isLink = links;
        listing->capacity = capacity;
    }
    wchar_t* stored = block->Chars() + block->used;
    memcpy(stored, name, chars * sizeof(wchar_t));
    block->used += chars;
    listing->isFolder[listing->count] = isFolder;
    listing->isLink[listing->count] = isLink;
    listing->names[listing->count++] = stored;
}

uint64_t ReadFolderListing(FolderListing* listing) {
    size_t folderLength = wcslen(listing->folder);
    wchar_t* pattern = DuplicateStringWithRoom(listing->folder, MAX_PATH);
    AppendCharIfMissing(pattern, L'\\', folderLength + MAX_PATH + 1);
    AppendCharIfMissing(pattern, L'*', folderLength + MAX_PATH + 1);
    WIN32_FIND_DATAW data;
    HANDLE find = OpenFolderEnumeration(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) {
        // A folder without a single entry, not even "." (a root), is empty and listed whole.
        listing->complete = win.GetLastError() == ERROR_FILE_NOT_FOUND;
    } else {
        bool everyFile = listing->mask[0] == L'*' && listing->mask[1] == 0;
        bool interrupted = false;
        do {
            const wchar_t* name = data.cFileName;
            if (IsDotEntry(name)) continue;
            bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!everyFile && !isFolder && !WildcardMatch(name, listing->mask)) continue;
            AddListingName(listing, name, isFolder, (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
        } while (!(interrupted = StopRequested()) && win.FindNextFileW(find, &data));
        // Stopped by an interrupt or an error, it may lack names.
        listing->complete = !interrupted && win.GetLastError() == ERROR_NO_MORE_FILES;
        win.FindClose(find);
    }
    FreeBlock(pattern);
    IndexListingNames(listing);
    return listing->count;
}

namespace {

// The place of the first stored name equal to `name`, or the count when there is none.
uint64_t FindPlace(const FolderListing* listing, const wchar_t* name) {
    uint64_t place = listing->count;
    if (listing->slotCount != 0) {
        // Names of one hash share a chain in the order they were listed: the first that compares
        // equal is the first of the listing.
        uint32_t hash = FoldedHash(name);
        uint32_t mask = listing->slotCount - 1;
        for (uint32_t at = hash & mask; listing->slots[at].place != 0; at = (at + 1) & mask) {
            const ListingSlot& slot = listing->slots[at];
            if (slot.hash == hash && SameNameNoCase(listing->names[slot.place - 1], name)) {
                place = slot.place - 1;
                break;
            }
        }
    } else {
        for (place = 0; place < listing->count && !SameNameNoCase(listing->names[place], name); ++place) {
        }
    }
    return place;
}

}  // namespace

const wchar_t* FindListingEntry(const FolderListing* listing, const wchar_t* name, bool* isFolder, bool* isLink) {
    uint64_t place = FindPlace(listing, name);
    if (place == listing->count) return nullptr;
    if (isFolder) *isFolder = listing->isFolder[place];
    if (isLink) *isLink = listing->isLink[place];
    return listing->names[place];
}

void MarkListed(FolderListing* listing, const wchar_t* name) {
    uint64_t place = FindPlace(listing, name);
    if (place == listing->count) return;
    if (!listing->seen) listing->seen = static_cast<bool*>(AllocZeroed(listing->capacity * sizeof(bool)));
    listing->seen[place] = true;
}

bool WasListed(const FolderListing* listing, uint64_t place) { return listing->seen && listing->seen[place]; }

void FreeFolderListing(FolderListing* listing) {
    while (NameBlock* block = listing->nameBlocks) {
        listing->nameBlocks = block->previous;
        FreeBlock(block);
    }
    FreeBlock(listing->names);
    FreeBlock(listing->isFolder);
    FreeBlock(listing->isLink);
    FreeBlock(listing->seen);
    FreeBlock(listing->slots);
    FreeBlock(listing->folder);
    FreeBlock(listing->mask);
    listing->names = nullptr;
    listing->isFolder = nullptr;
    listing->isLink = nullptr;
    listing->seen = nullptr;
    listing->slots = nullptr;
    listing->folder = listing->mask = nullptr;
    listing->count = listing->capacity = 0;
    listing->slotCount = 0;
}
