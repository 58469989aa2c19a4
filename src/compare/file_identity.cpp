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

namespace {

constexpr uint32_t kFirstFileIdSlots = 64;

// The finaliser of a 64-bit mix: file indexes count up from one place, so their low bits alone
// would crowd into a few slots.
uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
}

bool SameKey(const FileIdKey& a, const FileIdKey& b) {
    return a.index1 == b.index1 && a.index2 == b.index2 && a.volumes == b.volumes;
}

FileIdSlot* SlotFor(FileIdSlot* slots, uint32_t capacity, const FileIdKey& key) {
    uint32_t mask = capacity - 1;
    uint64_t hash = Mix(key.index1 ^ Mix(key.index2 ^ Mix(key.volumes)));
    for (uint32_t at = static_cast<uint32_t>(hash) & mask;; at = (at + 1) & mask) {
        if (!slots[at].used || SameKey(slots[at].key, key)) return &slots[at];
    }
}

// Twice the room, every identity moved over; kept at most three quarters full.
void Grow(FileIdList* list) {
    uint32_t capacity = list->capacity ? list->capacity * 2 : kFirstFileIdSlots;
    auto* slots = static_cast<FileIdSlot*>(AllocZeroed(uint64_t{capacity} * sizeof(FileIdSlot)));
    for (uint32_t i = 0; i < list->capacity; ++i) {
        if (list->slots[i].used) *SlotFor(slots, capacity, list->slots[i].key) = list->slots[i];
    }
    FreeBlock(list->slots);
    list->slots = slots;
    list->capacity = capacity;
}

}  // namespace

FileIdList* NewFileIdList() { return static_cast<FileIdList*>(AllocZeroed(sizeof(FileIdList))); }

int RememberFileIdKey(FileIdList* list, const FileIdKey& key, uint32_t linkCount) {
    if (uint64_t{list->count + 1} * 4 > uint64_t{list->capacity} * 3) Grow(list);
    FileIdSlot* slot = SlotFor(list->slots, list->capacity, key);
    if (slot->used) return 0;
    *slot = {key, linkCount, 1};
    ++list->count;
    return 1;
}

bool HasFileIdKey(const FileIdList* list, const FileIdKey& key) {
    return list->capacity != 0 && SlotFor(list->slots, list->capacity, key)->used;
}

int RememberFileId(FileIdList* list, uint32_t linkCount, uint32_t indexLow, uint32_t indexHigh) {
    return RememberFileIdKey(list, {(uint64_t{indexHigh} << 32) | indexLow, 0, 0}, linkCount);
}

FileIdKey PairKey(const BY_HANDLE_FILE_INFORMATION& side1, const BY_HANDLE_FILE_INFORMATION& side2) {
    return {(uint64_t{side1.nFileIndexHigh} << 32) | side1.nFileIndexLow,
            (uint64_t{side2.nFileIndexHigh} << 32) | side2.nFileIndexLow,
            (uint64_t{side1.dwVolumeSerialNumber} << 32) | side2.dwVolumeSerialNumber};
}

void FreeFileIdSlots(FileIdList* list) {
    FreeBlock(list->slots);
    *list = {};
}

void FreeFileIdList(FileIdList* list) {
    if (!list) return;
    FreeFileIdSlots(list);
    FreeBlock(list);
}
