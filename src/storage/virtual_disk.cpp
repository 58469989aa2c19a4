#include "storage/virtual_disk.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/os_version.h"
#include "base/scoped_handles.h"
#include "base/system_library.h"
#include "paths/path_strings.h"
#include "platform/entry_points.h"
#include "platform/win_api.h"
#include "storage/drive_letters.h"

namespace {

// On systems before Windows 7 it is marked loaded without a library.
struct VirtDiskEntryPointsRecord {
    uint32_t loaded;
    HMODULE module;
    GetStorageDependencyInformationFunction getStorageDependencyInformation;
};
VirtDiskEntryPointsRecord VirtDiskEntryPoints = {};
GetVolumePathNamesForVolumeNameWFunction VolumePathNamesEntryPoint = nullptr;

constexpr uint32_t kWindows7 = 0x0601;
constexpr uint32_t kWindowsXp = 0x0501;

// STORAGE_DEPENDENCY_INFO version 2: Version and NumberEntries, then entries of
// STORAGE_DEPENDENCY_INFO_TYPE_2 (64 bytes) whose string pointers point into the same buffer.
constexpr uint32_t kDependencyInfoVersion = 2;
constexpr size_t kEntriesOffset = 8;
constexpr size_t kEntryBytes = 64;
constexpr size_t kHostVolumeNameOffset = 40;
constexpr size_t kRelativePathOffset = 56;
constexpr DWORD kHostVolumesOfDiskHandle = 3;  // GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES | _DISK_HANDLE

constexpr ULONG kFirstQueryBytes = 8192;
constexpr ULONG kLargestQueryBytes = 0x100000;
constexpr DWORD kMountPathChars = 1024;
// The longest list of mount paths asked for a second time, far more than a volume keeps.
constexpr DWORD kLargestMountPathChars = 0x10000;

// The string a pointer stored at `offset` of the reply points to, or null when the pointer or the
// string reaches outside the buffer, or the string is empty: the reply is read as untrusted.
const wchar_t* ReplyString(const unsigned char* reply, size_t bytes, size_t offset) {
    uintptr_t pointer = 0;
    memcpy(&pointer, reply + offset, sizeof(pointer));
    uintptr_t begin = reinterpret_cast<uintptr_t>(reply);
    if (pointer < begin || pointer - begin >= bytes || (pointer - begin) % sizeof(wchar_t) != 0) return nullptr;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(pointer);
    size_t room = (bytes - (pointer - begin)) / sizeof(wchar_t);
    if (room == 0 || !wmemchr(text, 0, room) || text[0] == 0) return nullptr;
    return text;
}

// One storage-dependency query into a fresh zero-filled buffer of `bytes`.
DWORD QueryDependencies(HANDLE disk, ULONG bytes, unsigned char** reply, ULONG* sizeUsed) {
    *reply = static_cast<unsigned char*>(AllocZeroed(bytes));
    if (bytes >= sizeof(uint32_t)) memcpy(*reply, &kDependencyInfoVersion, sizeof(kDependencyInfoVersion));
    *sizeUsed = 0;
    return VirtDiskEntryPoints.getStorageDependencyInformation(disk, kHostVolumesOfDiskHandle, bytes, *reply, sizeUsed);
}

// out = base + relative with exactly one backslash between them.
bool JoinContainerPath(wchar_t* out, size_t capacity, const wchar_t* base, const wchar_t* relative) {
    size_t baseLength = wcslen(base);
    if (baseLength > 0 && base[baseLength - 1] == L'\\') --baseLength;
    if (relative[0] == L'\\') ++relative;
    size_t relativeLength = wcslen(relative);
    if (baseLength + 1 + relativeLength >= capacity) return false;
    memcpy(out, base, baseLength * sizeof(wchar_t));
    out[baseLength] = L'\\';
    memcpy(out + baseLength + 1, relative, (relativeLength + 1) * sizeof(wchar_t));
    return true;
}

// The container path from a reply that held together: the host volume's mount path, or its
// GUID path, or the drive letter of its NT device name, followed by the relative path.
bool ContainerPathFrom(const wchar_t* host, const wchar_t* relative, wchar_t* out, size_t capacity) {
    wchar_t base[kTopologyPathChars] = {};
    if (wcsncmp(host, L"\\\\?\\Volume", 10) == 0) {
        if (!VolumeMountPath(host, base) || base[0] == 0) {
            if (!CopyPath(base, kTopologyPathChars, host) || !AppendCharIfMissing(base, L'\\', kTopologyPathChars)) {
                return false;
            }
        }
    } else {
        wchar_t letter = DriveLetterForDevice(host);
        if (letter == 0) return false;
        base[0] = letter;
        base[1] = L':';
        base[2] = L'\\';
    }
    return JoinContainerPath(out, capacity, base, relative);
}

}  // namespace

void ForgetStorageEntryPoints() {
    VirtDiskEntryPoints = {};
    VolumePathNamesEntryPoint = nullptr;
}

bool LoadVirtDisk() {
    if (VirtDiskEntryPoints.loaded) return true;
    if (OsVersion.code < kWindows7) {
        VirtDiskEntryPoints.loaded = 1;
        return true;
    }
    HMODULE module = LoadSystemLibrary("VirtDisk.dll");
    if (!module) return false;
    auto query = FindEntryPoint<GetStorageDependencyInformationFunction>(module, "GetStorageDependencyInformation");
    if (!query) return false;
    VirtDiskEntryPoints.module = module;
    VirtDiskEntryPoints.getStorageDependencyInformation = query;
    VirtDiskEntryPoints.loaded = 1;
    return true;
}

ContainerAnswer ResolveVirtualDiskContainer(const wchar_t* devicePath, wchar_t* out, size_t capacity) {
    if (!out || capacity == 0) return ContainerAnswer::kNotFound;
    out[0] = 0;
    if (!LoadVirtDisk()) return ContainerAnswer::kNotFound;
    if (OsVersion.code < kWindows7) return ContainerAnswer::kNeedsWindows7;
    if (!VirtDiskEntryPoints.getStorageDependencyInformation) return ContainerAnswer::kNotFound;
    DWORD attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL;
    ScopedHandle disk(OpenDevice(devicePath, GENERIC_READ, attributes));
    if (!disk.valid()) disk.reset(OpenDevice(devicePath, 0, attributes));
    if (!disk.valid()) return ContainerAnswer::kNotFound;

    unsigned char* first = nullptr;
    unsigned char* second = nullptr;
    ULONG sizeUsed = 0;
    ULONG bytes = kFirstQueryBytes;
    DWORD result = QueryDependencies(disk.get(), bytes, &first, &sizeUsed);
    ScopedBlock<unsigned char> firstOwner(first);
    unsigned char* reply = first;
    ScopedBlock<unsigned char> secondOwner;
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        // One larger call, and only for a need that is larger than the buffer just refused.
        if (sizeUsed > kFirstQueryBytes && sizeUsed <= kLargestQueryBytes) {
            bytes = sizeUsed;
            result = QueryDependencies(disk.get(), bytes, &second, &sizeUsed);
            secondOwner.reset(second);
            reply = second;
        }
    }
    if (result == ERROR_SUCCESS && bytes >= kEntriesOffset + kEntryBytes) {
        uint32_t entries = 0;
        memcpy(&entries, reply + 4, sizeof(entries));
        size_t entryRoom = bytes - kEntriesOffset;
        // Every entry the reply claims must lie inside it, even though only the first is read.
        if (entries != 0 && entries <= entryRoom / kEntryBytes) {
            const wchar_t* host = ReplyString(reply, bytes, kEntriesOffset + kHostVolumeNameOffset);
            const wchar_t* relative = ReplyString(reply, bytes, kEntriesOffset + kRelativePathOffset);
            if (host && relative && !ContainerPathFrom(host, relative, out, capacity)) out[0] = 0;
        }
    }
    return out[0] != 0 ? ContainerAnswer::kFound : ContainerAnswer::kNotFound;
}

bool VolumeMountPath(const wchar_t* volumeName, wchar_t* out, size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = 0;
    if (OsVersion.code < kWindowsXp || !volumeName) return false;
    wchar_t name[kTopologyPathChars];
    if (!CopyPath(name, kTopologyPathChars, volumeName) || !AppendCharIfMissing(name, L'\\', kTopologyPathChars)) {
        return false;
    }
    if (!VolumePathNamesEntryPoint) {
        VolumePathNamesEntryPoint = FindLoadedEntryPoint<GetVolumePathNamesForVolumeNameWFunction>(
            L"kernel32.dll", "GetVolumePathNamesForVolumeNameW");
        if (!VolumePathNamesEntryPoint) return false;
    }
    wchar_t names[kMountPathChars] = {};
    DWORD length = 0;
    // The first name of the list; one that runs to the end of the buffer is no name.
    if (VolumePathNamesEntryPoint(name, names, kMountPathChars, &length)) {
        return wmemchr(names, 0, kMountPathChars) && CopyPath(out, capacity, names);
    }
    // A list longer than the buffer is asked for once more, at the length the call said it needs.
    if (win.GetLastError() != ERROR_MORE_DATA || length <= kMountPathChars || length > kLargestMountPathChars) {
        return false;
    }
    const DWORD chars = length;
    ScopedBlock<wchar_t> longer(static_cast<wchar_t*>(AllocZeroed(chars * sizeof(wchar_t))));
    return VolumePathNamesEntryPoint(name, longer.get(), chars, &length) && wmemchr(longer.get(), 0, chars) &&
           CopyPath(out, capacity, longer.get());
}
