// The container file behind a file-backed virtual disk (a mounted VHD), found with VirtDisk.dll's
// storage-dependency query. The library exists only from Windows 7 on, so it is loaded at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"
#include "storage/device_queries.h"

typedef DWORD(WINAPI* GetStorageDependencyInformationFunction)(HANDLE, DWORD, ULONG, void*, PULONG);
typedef BOOL(WINAPI* GetVolumePathNamesForVolumeNameWFunction)(LPCWSTR, LPWCH, DWORD, PDWORD);

// VirtDisk.dll's function and kernel32's GetVolumePathNamesForVolumeNameW (missing before XP) are
// looked up on first use and kept until the process ends; this forgets them, so that the next use
// looks them up again (tests that fake the libraries).
void ForgetStorageEntryPoints();

// Looks up VirtDisk.dll's function unless it is already. False when VirtDisk.dll or its function is
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
