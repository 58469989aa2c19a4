#include "compare/file_identity.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "base/memory.h"
#include "base/scoped_handles.h"
#include "platform/win_api.h"

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

bool SameId(const FileId& a, const FileId& b) { return a.volume == b.volume && a.low == b.low && a.high == b.high; }

bool SameKey(const FileIdKey& a, const FileIdKey& b) {
    return SameId(a.sides[0], b.sides[0]) && SameId(a.sides[1], b.sides[1]);
}

uint64_t HashOf(const FileId& id) { return Mix(id.low ^ Mix(id.high ^ Mix(id.volume))); }

FileIdSlot* SlotFor(FileIdSlot* slots, uint32_t capacity, const FileIdKey& key) {
    uint32_t mask = capacity - 1;
    uint64_t hash = HashOf(key.sides[0]) ^ Mix(HashOf(key.sides[1]));
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

int RememberFileIdKey(FileIdList* list, const FileIdKey& key, const uint8_t* digest) {
    if (uint64_t{list->count + 1} * 4 > uint64_t{list->capacity} * 3) Grow(list);
    FileIdSlot* slot = SlotFor(list->slots, list->capacity, key);
    if (slot->used) return 0;
    *slot = {key, 1, digest != nullptr, {}};
    if (digest) memcpy(slot->digest, digest, sizeof slot->digest);
    ++list->count;
    return 1;
}

bool FileIdDigest(const FileIdList* list, const FileIdKey& key, uint8_t* digest) {
    if (list->capacity == 0) return false;
    const FileIdSlot* slot = SlotFor(list->slots, list->capacity, key);
    if (!slot->used || !slot->hasDigest) return false;
    memcpy(digest, slot->digest, sizeof slot->digest);
    return true;
}

bool HasFileIdKey(const FileIdList* list, const FileIdKey& key) {
    return list->capacity != 0 && SlotFor(list->slots, list->capacity, key)->used;
}

namespace {

FileId IndexOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0};
}

}  // namespace

bool ReadFileId(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, FileId* id) {
    FILE_ID_INFO full = {};
    if (win.GetFileInformationByHandleEx(handle, FileIdInfo, &full, sizeof full)) {
        id->volume = full.VolumeSerialNumber;
        memcpy(&id->low, full.FileId.Identifier, sizeof id->low);
        memcpy(&id->high, full.FileId.Identifier + sizeof id->low, sizeof id->high);
        return id->low != 0 || id->high != 0;
    }
    // Before Windows 8 the information class is unknown, and no volume has 128-bit ids: the
    // index is the identity. Any other failure leaves the file without one.
    DWORD error = win.GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
        return false;
    }
    *id = IndexOf(info);
    return id->low != 0;
}

bool ReadPairKey(HANDLE side1, HANDLE side2, bool linkedOnly, FileIdKey* key) {
    BY_HANDLE_FILE_INFORMATION info1, info2;
    if (!win.GetFileInformationByHandle(side1, &info1) || !win.GetFileInformationByHandle(side2, &info2)) return false;
    if (linkedOnly && info1.nNumberOfLinks < 2 && info2.nNumberOfLinks < 2) return false;
    return ReadFileId(side1, info1, &key->sides[0]) && ReadFileId(side2, info2, &key->sides[1]);
}

namespace {

HANDLE OpenForId(const wchar_t* path) {
    return win.CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool ReadHandleId(HANDLE handle, FileId* id) {
    BY_HANDLE_FILE_INFORMATION info;
    return win.GetFileInformationByHandle(handle, &info) && ReadFileId(handle, info, id);
}

// How many characters of a final path name its volume: "\\?\Volume{...}" of a GUID path; of an
// NT path the device ("\Device\HarddiskVolume2"), and under the network redirector the server and
// share as well ("\Device\Mup\server\share"). 0 for a path of no such form.
size_t VolumePartChars(const wchar_t* path, DWORD kind) {
    static const wchar_t kRedirector[] = L"\\Device\\Mup\\";
    size_t backslashes = kind == VOLUME_NAME_GUID ? 4 : 3;
    if (kind == VOLUME_NAME_NT && _wcsnicmp(path, kRedirector, wcslen(kRedirector)) == 0) backslashes = 5;
    size_t seen = 0;
    for (size_t i = 0; path[i] != 0; ++i) {
        if (path[i] == L'\\' && ++seen == backslashes) return i;
    }
    return 0;
}

// The volume part of the handle's final path in the form `kind`, into `name`; 0 when the system
// cannot tell it.
size_t FinalVolume(HANDLE handle, DWORD kind, wchar_t* name) {
    DWORD chars = win.GetFinalPathNameByHandleW(handle, name, kPathChars, kind);
    if (chars == 0 || chars >= kPathChars) return 0;
    return VolumePartChars(name, kind);
}

}  // namespace

bool ReadPathId(const wchar_t* path, FileId* id) {
    ScopedHandle handle(OpenForId(path));
    return handle && ReadHandleId(handle.get(), id);
}

bool IsOneFile(const FileIdKey& key) { return SameId(key.sides[0], key.sides[1]); }

bool OnOneVolume(HANDLE side1, HANDLE side2) {
    ScopedBlock<wchar_t> names[2] = {ScopedPathBuffer(), ScopedPathBuffer()};
    // The volume GUID names the volume itself; the device is asked where a volume has none (a
    // share, some mounts).
    for (DWORD kind : {DWORD{VOLUME_NAME_GUID}, DWORD{VOLUME_NAME_NT}}) {
        size_t chars1 = FinalVolume(side1, kind, names[0].get());
        size_t chars2 = chars1 ? FinalVolume(side2, kind, names[1].get()) : 0;
        if (chars1 && chars2) {
            return chars1 == chars2 && memcmp(names[0].get(), names[1].get(), chars1 * sizeof(wchar_t)) == 0;
        }
    }
    return false;
}

bool ProvenOneFile(HANDLE side1, HANDLE side2, const FileIdKey& key) {
    return IsOneFile(key) && OnOneVolume(side1, side2);
}

bool PathsAreOneFile(const wchar_t* path1, const wchar_t* path2) {
    ScopedHandle handles[2] = {ScopedHandle(OpenForId(path1)), ScopedHandle(OpenForId(path2))};
    FileIdKey key;
    return handles[0] && handles[1] && ReadHandleId(handles[0].get(), &key.sides[0]) &&
           ReadHandleId(handles[1].get(), &key.sides[1]) && ProvenOneFile(handles[0].get(), handles[1].get(), key);
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
