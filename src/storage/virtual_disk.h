// The container file behind a file-backed virtual disk (a mounted VHD), found with VirtDisk.dll's
// storage-dependency query. The library exists only from Windows 7 on, so it is loaded at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"
#include "storage/device_queries.h"

typedef DWORD(WINAPI* GetStorageDependencyInformationFunction)(HANDLE, DWORD, ULONG, void*, PULONG);
typedef BOOL(WINAPI* GetVolumePathNamesForVolumeNameWFunction)(LPCWSTR, LPWCH, DWORD, PDWORD);

// Filled on first use and kept until the process ends. On systems before Windows 7 it is marked
// loaded without a library.
struct VirtDiskEntryPointsRecord {
    uint32_t loaded;
    HMODULE module;
    GetStorageDependencyInformationFunction getStorageDependencyInformation;
};
extern VirtDiskEntryPointsRecord VirtDiskEntryPoints;

// kernel32's GetVolumePathNamesForVolumeNameW, looked up on first use (it is missing before XP).
extern GetVolumePathNamesForVolumeNameWFunction VolumePathNamesEntryPoint;

// Fills VirtDiskEntryPoints unless it is already. False when VirtDisk.dll or its function is
// missing; the next call tries again.
bool LoadVirtDisk();

enum class ContainerAnswer {
    kFound,
    kNotFound,       // no container, no answer, or one that does not fit
    kNeedsWindows7,  // the question exists from Windows 7 on
};

// The full path of the file that backs the virtual disk `devicePath` (such as \\.\PhysicalDrive3)
// in `out`, which the caller passes empty; `out` stays empty unless the answer is kFound.
ContainerAnswer ResolveVirtualDiskContainer(const wchar_t* devicePath, wchar_t* out,
                                            size_t capacity = kTopologyPathChars);

// The first mount path (a drive root or a folder) of the volume `volumeName`; true with an empty
// `out` when the volume has none.
bool VolumeMountPath(const wchar_t* volumeName, wchar_t* out, size_t capacity = kTopologyPathChars);
