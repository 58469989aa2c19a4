// The physical drive behind a path, through substituted drive letters, encrypted volumes and
// file-backed virtual disks, and the decision between reading both sides at once or in turn.
#pragma once

#include <cstddef>
#include <cstdint>

// The device that stores a path: disk n, a CD-ROM drive, a floppy drive, or one of the two
// answers without a device. Identities are compared as plain numbers.
using DriveIdentity = int32_t;
constexpr DriveIdentity kUnresolvedDrive = -1;
constexpr DriveIdentity kNetworkDrive = -2;
constexpr DriveIdentity kCdRomIdentityBase = 0x10000;
constexpr DriveIdentity kFloppyIdentityBase = 0x20000;
constexpr int32_t kLargestDriveNumber = 0xFFFF;

enum DriveClass { DiskDriveClass, CdRomDriveClass, FloppyDriveClass };

// The class of a resolved identity (0 or more), read back by thresholds.
DriveClass ClassOfDrive(DriveIdentity identity);

// The device path of a resolved identity: \\.\PhysicalDriveN, \\.\CdRomN or \\.\FloppyN.
// `out` holds kDriveDevicePathChars characters.
constexpr size_t kDriveDevicePathChars = 32;
void DevicePathOfDrive(DriveIdentity identity, wchar_t* out);

// How many times one resolution may go down to the storage under a layer. No real machine
// stacks that many; a chain that comes back to where it has been ends here as unresolved.
constexpr int kMostStorageLayers = 16;

// What a resolution met on its way that the user should hear of.
struct DriveNotes {
    int virtualDisksBeforeWindows7;  // virtual disks whose container this Windows cannot ask for
};

// The identity of the drive that stores `path`: a volume root, a mount folder, a volume GUID
// path or a file path of at most 260 characters. Longer paths are unresolved.
DriveIdentity ResolveDriveIdentity(const wchar_t* path, DriveNotes* notes = nullptr);

// Whether the two paths are stored on one physical drive, which is read one side after the other.
bool OnSamePhysicalDrive(const wchar_t* path1, const wchar_t* path2, DriveNotes* notes = nullptr);

// Whether the two paths lie on the same volume. A path longer than 260 characters, or one whose
// substitution would be, is on no volume known here: false.
bool OnSameVolume(const wchar_t* path1, const wchar_t* path2);
