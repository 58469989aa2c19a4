// Files with several hard links: each identity is compared once per side and run.
#pragma once

#include <cstdint>

struct FileIdNode {
    uint32_t linkCount;  // as reported when added; not part of the identity
    uint32_t indexHigh;
    uint32_t indexLow;
    FileIdNode* next;
};

struct FileIdList {
    FileIdNode* first;
    FileIdNode* last;
};

// The link count of the file (0 when it cannot be opened or queried) and its file index.
uint32_t FileIdentity(const wchar_t* path, uint32_t* indexLow, uint32_t* indexHigh);

// 0 when the identity is already in the list; otherwise appends it and returns 1.
int RememberFileId(FileIdList* list, uint32_t linkCount, uint32_t indexLow, uint32_t indexHigh);

// Releases every node and the list head.
void FreeFileIdList(FileIdList* list);
