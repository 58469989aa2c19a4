// Files with several hard links: each identity is compared once per side and run.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// The identities seen on one side, in an open-addressing table: a tree with many hard links
// would cost a scan of every earlier identity per file otherwise. A zeroed list is empty.
// A key is one identity (a file index) or a pair of them: side 1 and side 2 of a compared pair,
// each with its volume serial number, since indexes are unique per volume only.
struct FileIdKey {
    uint64_t index1;
    uint64_t index2;
    uint64_t volumes;  // serial 1 : serial 2
};

struct FileIdSlot {
    FileIdKey key;
    uint32_t linkCount;  // as reported when added; not part of the identity
    uint32_t used;
};

struct FileIdList {
    FileIdSlot* slots;
    uint32_t capacity;  // 0 or a power of two
    uint32_t count;
};

// An empty list on the heap, for FreeFileIdList.
FileIdList* NewFileIdList();

// The link count of the file (0 when it cannot be opened or queried) and its file index.
uint32_t FileIdentity(const wchar_t* path, uint32_t* indexLow, uint32_t* indexHigh);

// 0 when the identity is already in the list; otherwise appends it and returns 1.
int RememberFileId(FileIdList* list, uint32_t linkCount, uint32_t indexLow, uint32_t indexHigh);

// The pair of identities of two open files, side 1 and side 2.
FileIdKey PairKey(const BY_HANDLE_FILE_INFORMATION& side1, const BY_HANDLE_FILE_INFORMATION& side2);

// Whether the key is in the list.
bool HasFileIdKey(const FileIdList* list, const FileIdKey& key);

// 0 when the key is already in the list; otherwise adds it and returns 1.
int RememberFileIdKey(FileIdList* list, const FileIdKey& key, uint32_t linkCount);

// Releases the table; FreeFileIdList releases the list head too.
void FreeFileIdSlots(FileIdList* list);
void FreeFileIdList(FileIdList* list);
