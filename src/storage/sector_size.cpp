#include "storage/sector_size.h"

#include <cwchar>

#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"

namespace {

// The volume name buffer of the volume search: a GUID name with its backslash is 49 characters.

// The reader aligns offsets and lengths to the sector size and reads single sectors inside one
// block, so a size that is no power of two, or larger than the smallest block (64 KiB on a
// floppy), cannot be used.
uint32_t UsableSectorSize(uint64_t reported) {
    if (reported == 0 || reported > 0x10000 || (reported & (reported - 1)) != 0) return kDefaultSectorSize;
    return static_cast<uint32_t>(reported);
}

}  // namespace

uint32_t DeviceSectorSize(const wchar_t* devicePath) {
    HANDLE handle = OpenDevice(devicePath, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) return kDefaultSectorSize;
    DISK_GEOMETRY geometry = {};
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry),
                                  &returned, nullptr);
    win.CloseHandle(handle);
    if (!ok || returned < sizeof(geometry)) return kDefaultSectorSize;
    return UsableSectorSize(geometry.BytesPerSector);
}

uint32_t DriveSectorSize(wchar_t letter) {
    wchar_t root[] = {letter, L':', L'\\', 0};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!win.GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
        return kDefaultSectorSize;
    }
    return UsableSectorSize(bytesPerSector);
}

bool IsFloppyPath(const wchar_t* path) {
    if (!path) return false;
    wchar_t name[kTopologyPathChars] = {};
    wchar_t target[kDosDeviceChars];
    bool found;
    if (win.GetVolumeNameForVolumeMountPointW(path, name, MAX_PATH) && wmemchr(name, 0, MAX_PATH)) {
        // A mount point or the volume's own GUID path: its device is the volume's.
        RemoveTrailingChar(name, L'\\');
        found = QueryDosTarget(SkipLongPathPrefix(name), target);
    } else {
        // A DOS device name such as A: is asked directly; the root A:\ as A:.
        if (!CopyWithoutTrailingBackslash(name, kTopologyPathChars, path)) return false;
        found = QueryDosTarget(name, target);
    }
    return found && wcsstr(target, L"Floppy") != nullptr;
}

bool LegacyVolumeName(wchar_t* path, size_t capacity) {
    size_t length = BoundedLength(path, capacity);
    if (!path || length < 4 || length >= capacity) return false;
    wchar_t name[kVolumeGuidNameChars] = {};
    HANDLE search = win.FindFirstVolumeW(name, kVolumeGuidNameChars);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        if (!wmemchr(name, 0, kVolumeGuidNameChars)) continue;
        RemoveTrailingChar(name, L'\\');
        wchar_t target[kDosDeviceChars];
        if (!QueryDosTarget(SkipLongPathPrefix(name), target)) continue;
        // The target is "\Device\HarddiskVolumeN", the path "\\.\HarddiskVolumeN".
        if (wcslen(target) < 8) continue;
        if (win.lstrcmpiW(target + 8, path + 4) == 0) found = CopyPath(path, capacity, name);
    } while (!found && win.FindNextVolumeW(search, name, kVolumeGuidNameChars));
    win.FindVolumeClose(search);
    return found;
}
