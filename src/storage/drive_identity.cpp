#include "storage/drive_identity.h"

#include <cwchar>

#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"
#include "storage/drive_letters.h"
#include "storage/encrypted_volumes.h"
#include "storage/virtual_disk.h"

namespace {

bool VolumePathName(const wchar_t* path, wchar_t* root) {
    return win.GetVolumePathNameW(path, root, MAX_PATH) && wmemchr(root, 0, MAX_PATH);
}

bool VolumeGuidName(const wchar_t* root, wchar_t* name, DWORD chars) {
    return win.GetVolumeNameForVolumeMountPointW(root, name, chars) && wmemchr(name, 0, chars);
}

// The identity of a path with no layer above its volume: the disk, CD-ROM or floppy number of
// the volume that holds it, or one of the answers without a device.
DriveIdentity PlainDriveIdentity(const wchar_t* path) {
    wchar_t root[kTopologyPathChars] = {};
    if (!VolumePathName(path, root)) {
        wcsncpy(root, path, 3);  // the drive root, as in E:\ .
        root[3] = 0;
    }
    UINT type = win.GetDriveTypeW(root);
    if (type == DRIVE_NO_ROOT_DIR) return kUnresolvedDrive;
    if (type == DRIVE_REMOTE) return kNetworkDrive;
    if (root[0] == L'\\' && root[1] == L'\\' && !HasLongPathPrefix(root)) return kNetworkDrive;

    wchar_t volume[kVolumeGuidNameChars] = {};
    if (!VolumeGuidName(root, volume, kVolumeGuidNameChars)) return kUnresolvedDrive;
    int32_t number = QueryDeviceNumber(volume);
    if (number < 0) return kUnresolvedDrive;
    if (type == DRIVE_CDROM) return kCdRomIdentityBase + number;
    if (type == DRIVE_REMOVABLE) {
        // A USB stick is removable too; only the floppy driver's device names say "Floppy".
        RemoveTrailingChar(volume, L'\\');
        wchar_t target[kDosDeviceChars];
        if (QueryDosTarget(SkipLongPathPrefix(volume), target) && wcsstr(target, L"Floppy")) {
            return kFloppyIdentityBase + number;
        }
    }
    return number;
}

// The root of the volume that holds `path` for the same-volume test, after a substitution.
bool RootForSameVolume(const wchar_t* path, wchar_t* root) {
    wchar_t work[kTopologyPathChars];
    bool refused = false;
    if (!ResolveSubstDrive(path, work, kTopologyPathChars, &refused)) {
        if (refused || !CopyPath(work, kTopologyPathChars, path)) return false;
    }
    if (VolumePathName(work, root)) return true;
    // Without an answer the root is taken from the text: up to the first backslash from the
    // fifth character on, as in \\?\D:\ .
    if (wcslen(work) <= 4) return false;
    wchar_t* backslash = wcschr(work + 4, L'\\');
    if (!backslash) return false;
    backslash[1] = 0;
    return CopyPath(root, kTopologyPathChars, work);
}

}  // namespace

DriveClass ClassOfDrive(DriveIdentity identity) {
    if (identity >= kFloppyIdentityBase) return FloppyDriveClass;
    if (identity >= kCdRomIdentityBase) return CdRomDriveClass;
    return DiskDriveClass;
}

void DevicePathOfDrive(DriveIdentity identity, wchar_t* out) {
    switch (ClassOfDrive(identity)) {
        case FloppyDriveClass: win.wsprintfW(out, L"\\\\.\\Floppy%i", identity & 0xFFFF); break;
        case CdRomDriveClass: win.wsprintfW(out, L"\\\\.\\CdRom%i", identity & 0xFFFF); break;
        case DiskDriveClass: win.wsprintfW(out, L"\\\\.\\PhysicalDrive%i", identity); break;
    }
}

// Each layer found sends the resolution back to the start with the path of the storage under
// it: the folder of a substituted letter, the container file or partition of an encrypted
// volume, the container file of a virtual disk.
DriveIdentity ResolveDriveIdentity(const wchar_t* path, DriveNotes* notes) {
    wchar_t work[kTopologyPathChars];
    if (!path || !CopyPath(work, kTopologyPathChars, path)) return kUnresolvedDrive;
    for (int restarts = 0; restarts <= kMostStorageLayers; ++restarts) {
        bool refused = false;
        if (ResolveSubstDrive(work, work, kTopologyPathChars, &refused)) continue;
        if (refused) return kUnresolvedDrive;

        wchar_t host[kTopologyPathChars];
        DriveIdentity identity = kUnresolvedDrive;
        if (ResolveEncryptedVolumeHost(work, host, &identity)) {
            if (host[0] != 0) {
                CopyPath(work, kTopologyPathChars, host);
                continue;
            }
        } else {
            identity = PlainDriveIdentity(work);
        }
        if (identity < 0) return identity;

        wchar_t device[kDriveDevicePathChars];
        DevicePathOfDrive(identity, device);
        uint32_t busType = 0;
        if (!QueryBusType(device, &busType) || busType != kBusTypeFileBackedVirtual) return identity;
        // A virtual disk whose container cannot be found keeps its own identity.
        wchar_t container[kTopologyPathChars] = {};
        ContainerAnswer answer = ResolveVirtualDiskContainer(device, container);
        if (answer == ContainerAnswer::kNeedsWindows7 && notes) ++notes->virtualDisksBeforeWindows7;
        if (answer != ContainerAnswer::kFound) return identity;
        CopyPath(work, kTopologyPathChars, container);
    }
    return kUnresolvedDrive;
}

bool OnSamePhysicalDrive(const wchar_t* path1, const wchar_t* path2, DriveNotes* notes) {
    DriveIdentity first = ResolveDriveIdentity(path1, notes);
    return first == ResolveDriveIdentity(path2, notes);
}

bool OnSameVolume(const wchar_t* path1, const wchar_t* path2) {
    wchar_t root1[kTopologyPathChars], root2[kTopologyPathChars];
    if (!path1 || !path2 || !RootForSameVolume(path1, root1) || !RootForSameVolume(path2, root2)) return false;
    if (wcscmp(root1, root2) == 0) return true;
    if (win.GetDriveTypeW(root1) != win.GetDriveTypeW(root2)) return false;
    // A drive letter and a mount folder of one volume have different roots but one GUID name.
    wchar_t name1[kVolumeGuidNameChars], name2[kVolumeGuidNameChars];
    return VolumeGuidName(root1, name1, kVolumeGuidNameChars) && VolumeGuidName(root2, name2, kVolumeGuidNameChars) &&
           wcscmp(name1, name2) == 0;
}
