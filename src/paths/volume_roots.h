// Where a path really lives: what a substituted or network drive letter stands for, the root of
// the volume that holds a path, and whether the first side of a file comparison exists.
#pragma once

#include <cstddef>

#include "base/types.h"
#include "platform/windows.h"

// The size of the buffers that receive QueryDosDeviceW answers.
constexpr int kDosDeviceChars = 260;

// QueryDosDeviceW of `deviceName` into `target` (kDosDeviceChars characters). True only when the
// answer's first name ends inside the buffer.
bool QueryDosTarget(const wchar_t* deviceName, wchar_t* target);

// What the drive letter a path begins with stands for, as its DOS device tells.
enum DriveStandInKind {
    kOwnVolume,        // no letter, no answer, or a local volume: the path stays as it is
    kDriveFolder,      // a substitution for a folder of another drive letter ("\??\E:\folder")
    kOtherSubstitute,  // a substitution for anything else the object namespace names
    kShare,            // a substitution for a share ("\??\UNC\server\share") or a network drive
};
struct DriveStandIn {
    DriveStandInKind kind;
    const wchar_t* lead;  // what goes before `base`: "\" for a share's "\server\share"
    const wchar_t* base;  // the folder or share, inside the caller's target buffer
    const wchar_t* rest;  // the path behind its drive letter and colon
};
DriveStandIn ReadDriveStandIn(const wchar_t* path, wchar_t* target);

// out = lead + base + rest, with one backslash where base ends and rest begins with one. `rest`
// may lie in `out`; `lead` and `base` may not. False, with ERROR_FILENAME_EXCED_RANGE and `out`
// empty, when it does not fit `capacity`.
bool JoinPathParts(wchar_t* out, size_t capacity, const wchar_t* lead, const wchar_t* base, const wchar_t* rest);

// The path without its "\\?\" prefix, with a substituted drive letter replaced by the folder it
// stands for and a network drive letter by the UNC name of its share; a local drive stays as it
// is. False, with ERROR_FILENAME_EXCED_RANGE and `out` empty, when the result does not fit
// `capacity` characters. `out` must not overlap `path`.
bool ResolveDrivePath(const wchar_t* path, wchar_t* out, size_t capacity = kPathChars);

// A volume root (or drive root) on a network drive: every read there waits a round trip.
bool IsNetworkRoot(const wchar_t* root);

// The root of the volume that holds `path` (as ResolveDrivePath gives it) with a trailing
// backslash: a drive root, a network drive's root, or the folder another volume is mounted on.
// False, with the thread's last error telling why, when there is none.
bool VolumeRootOf(const wchar_t* path, wchar_t* out, size_t capacity);

// The flags, longest name and file-system name of the volume whose root is `root`, as
// GetVolumeInformationW gives them. Asked through a handle to the root where the system has
// GetVolumeInformationByHandleW: the same answer, without reading the volume's label (which
// makes Wine open the device and complain on standard error). `fileSystem` may be null.
bool ReadVolumeFlags(const wchar_t* root, DWORD* flags, DWORD* maxComponent, wchar_t* fileSystem,
                     DWORD fileSystemChars);

// Whether the first side of a file comparison exists: a device that opens, or a file or folder
// whose attributes can be read or that exists but may not be queried. A stream name on a volume
// without named streams never exists.
bool SourceFileExists(const wchar_t* path);
