#include "storage/encrypted_volumes.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"
#include "storage/drive_letters.h"

namespace {

const wchar_t* const kEncryptionDrivers[] = {L"\\\\.\\TrueCrypt", L"\\\\.\\VeraCrypt"};
const wchar_t* const kEncryptedVolumeDevices[] = {L"\\Device\\TrueCryptVolume", L"\\Device\\VeraCryptVolume"};
constexpr size_t kEncryptedVolumeDeviceChars = 23;
constexpr size_t kVolumeGuidChars = 44;  // "Volume{" + 36 + "}"

// The mount list entry of `index` from one driver's reply of `returned` bytes, into `out`. An
// entry that the reply does not cover, or that runs to its end without a terminator, is no
// answer.
bool TakeEntry(const unsigned char* list, DWORD returned, int index, wchar_t* out, size_t capacity) {
    uint32_t mask = 0;
    size_t entryOffset = kMountListEntriesOffset + index * kMountListEntryChars * sizeof(wchar_t);
    size_t entryEnd = entryOffset + kMountListEntryChars * sizeof(wchar_t);
    if (returned < entryEnd) return false;
    memcpy(&mask, list, sizeof(mask));
    if (!(mask & (1u << index))) return false;
    wchar_t entry[kMountListEntryChars];
    memcpy(entry, list + entryOffset, sizeof(entry));
    size_t length = wmemchr(entry, 0, kMountListEntryChars) ? wcslen(entry) : kMountListEntryChars;
    if (length == kMountListEntryChars) return false;
    const wchar_t* host = entry;
    if (length >= 4 && entry[1] == L'?') host += 4;  // "\??\"
    return CopyPath(out, capacity, host);
}

// The decimal number at the start of `text`: 0 when there is none, -1 when it is larger than a
// drive identity can carry.
int32_t ReadDriveNumber(const wchar_t* text) {
    int32_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > kLargestDriveNumber) return -1;
    }
    return value;
}

// The drive letter of an encrypted volume named by its volume GUID path: its DOS device is the
// driver's volume device, whose name ends in the letter.
wchar_t LetterOfEncryptedVolume(const wchar_t* path) {
    const wchar_t* guid = wcsstr(path, L"Volume{");
    if (!guid) return 0;
    wchar_t name[kVolumeGuidChars + 1] = {};
    wcsncpy(name, guid, kVolumeGuidChars);
    wchar_t target[kDosDeviceChars];
    if (!QueryDosTarget(name, target)) return 0;
    for (const wchar_t* device : kEncryptedVolumeDevices) {
        if (!StartsWithNoCase(target, device)) continue;
        wchar_t letter = target[kEncryptedVolumeDeviceChars];
        return IsAsciiLetter(letter) ? static_cast<wchar_t>(letter & ~0x20) : 0;
    }
    return 0;
}

}  // namespace

bool QueryEncryptedMountList(wchar_t letter, wchar_t* out, size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = 0;
    if (!IsAsciiLetter(letter)) return false;
    int index = (letter & ~0x20) - L'A';
    auto* list = static_cast<unsigned char*>(AllocZeroed(kMountListBytes));
    for (const wchar_t* driver : kEncryptionDrivers) {
        HANDLE device = OpenDevice(driver, 0);
        if (device == INVALID_HANDLE_VALUE) continue;
        // Each driver gets a clean buffer, so one never reads as the other's answer.
        memset(list, 0, kMountListBytes);
        DWORD returned = 0;
        if (win.DeviceIoControl(device, kMountListControlCode, list, kMountListBytes, list, kMountListBytes, &returned,
                                nullptr)) {
            wchar_t host[kTopologyPathChars];
            if (TakeEntry(list, returned, index, host, kTopologyPathChars) && !CopyPath(out, capacity, host)) {
                out[0] = 0;
            }
        }
        win.CloseHandle(device);
    }
    FreeBlock(list);
    return out[0] != 0;
}

bool ResolveEncryptedVolumeHost(const wchar_t* path, wchar_t* out, int32_t* identity, size_t capacity) {
    if (!path || !out || capacity == 0) return false;
    out[0] = 0;
    wchar_t letter = DriveLetterOf(path);
    if (letter == 0) letter = LetterOfEncryptedVolume(path);
    if (letter == 0) return false;
    wchar_t host[kTopologyPathChars];
    if (!QueryEncryptedMountList(letter, host)) return false;

    // A container file: its drive is found by resolving its path.
    if (IsAsciiLetter(host[0]) && host[1] == L':') return CopyPath(out, capacity, host);
    struct DeviceClass {
        const wchar_t* prefix;
        int32_t base;
    };
    const DeviceClass kClasses[] = {
        {L"\\Device\\Harddisk", 0},
        {L"\\Device\\CdRom", kCdRomIdentityBase},
        {L"\\Device\\Floppy", kFloppyIdentityBase},
    };
    for (const DeviceClass& device : kClasses) {
        if (!StartsWithNoCase(host, device.prefix)) continue;
        const wchar_t* digits = host + wcslen(device.prefix);
        // "\Device\HarddiskVolume3" names a volume, not disk 0: without a number right after
        // the class it is resolved again like any other host.
        if (*digits < L'0' || *digits > L'9') break;
        int32_t number = ReadDriveNumber(digits);
        if (number < 0) return false;
        *identity = device.base + number;
        return true;
    }
    return CopyPath(out, capacity, host);
}
