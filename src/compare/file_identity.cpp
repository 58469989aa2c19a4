#include "compare/file_identity.h"

#include "base/memory.h"
#include "platform/win_api.h"

uint32_t FileIdentity(const wchar_t* path, uint32_t* indexLow, uint32_t* indexHigh) {
    HANDLE file = win.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = win.GetFileInformationByHandle(file, &info);
    win.CloseHandle(file);
    if (!ok) return 0;
    *indexLow = info.nFileIndexLow;
    *indexHigh = info.nFileIndexHigh;
    return info.nNumberOfLinks;
}

int RememberFileId(FileIdList* list, uint32_t linkCount, uint32_t indexLow, uint32_t indexHigh) {
    for (FileIdNode* node = list->first; node; node = node->next) {
        if (node->indexLow == indexLow && node->indexHigh == indexHigh) return 0;
    }
    auto* node = static_cast<FileIdNode*>(AllocZeroed(sizeof(FileIdNode)));
    node->linkCount = linkCount;
    node->indexHigh = indexHigh;
    node->indexLow = indexLow;
    if (list->last) {
        list->last->next = node;
    } else {
        list->first = node;
    }
    list->last = node;
    return 1;
}

void FreeFileIdList(FileIdList* list) {
    if (!list) return;
    for (FileIdNode* node = list->first; node;) {
        FileIdNode* next = node->next;
        FreeBlock(node);
        node = next;
    }
    FreeBlock(list);
}
