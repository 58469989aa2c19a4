#include "app/path_setup.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/os_version.h"
#include "base/run_options.h"
#include "compare/device_size.h"
#include "compare/error_names.h"
#include "compare/run_state.h"
#include "console/console_output.h"
#include "paths/path_forms.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"
#include "storage/sector_size.h"

RunPaths Paths;

namespace {

bool SameTextNoCase(const wchar_t* a, const wchar_t* b) {
    return wcslen(a) == wcslen(b) && (a[0] == 0 || StartsWithNoCase(a, b) != nullptr);
}

bool HasFileNamePart(const wchar_t* path) { return path[0] != 0 && *FileNamePart(path) != 0; }

// A raw device: "\\.\" or a volume GUID name, and no backslash behind its first five characters,
// so \\.\C: is the volume itself while \\.\C:\ is its root folder.
bool IsDeviceSide(const wchar_t* path) {
    if (!StartsWithNoCase(path, L"\\\\.\\") && !StartsWithNoCase(path, L"\\\\?\\Volume{")) return false;
    return wcslen(path) <= 5 || wcschr(path + 5, L'\\') == nullptr;
}

// GetFullPathNameW into `path` itself; false, and `path` unchanged, when it cannot be formed.
bool MakeFullPath(wchar_t* path) {
    static PathBuffer full;
    DWORD length = win.GetFullPathNameW(path, kPathChars, full, nullptr);
    if (length == 0 || length >= kPathChars) return false;
    memcpy(path, full, (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
    return true;
}

// \\.\pd1 stands for \\.\PhysicalDrive1, \\.\hdv3 for \\.\HarddiskVolume3.
void ExpandDeviceShortcut(wchar_t* path) {
    static PathBuffer expanded;
    if (StartsWithNoCase(path, L"\\\\.\\pd") && path[6] >= L'0' && path[6] <= L'9') {
        win.wsprintfW(expanded, L"\\\\.\\PhysicalDrive%s", path + 6);
        CopyPath(path, kPathChars, expanded);
    }
    if (StartsWithNoCase(path, L"\\\\.\\hdv") && path[7] >= L'0' && path[7] <= L'9') {
        win.wsprintfW(expanded, L"\\\\.\\HarddiskVolume%s", path + 7);
        CopyPath(path, kPathChars, expanded);
    }
}

// The volume root of one side, or the exit code after its message.
int FindVolumeRoot(const wchar_t* folder, wchar_t* root, const char* message, int exitCode) {
    static PathBuffer resolved;
    if (!ResolveDrivePath(folder, resolved, kPathChars) || !VolumeRootOf(resolved, root, MAX_PATH + 1)) {
        PrintErr(message, LastErrorName());
        return exitCode;
    }
    return -1;
}

// Whether the volume of `root` keeps hard links; the exit code after its message when the volume
// cannot be asked.
int ReadHardLinkSupport(const wchar_t* root, bool* support, FileIdList** list, const char* message, int exitCode) {
    DWORD capability = OsVersion.code >= 0x601 ? FILE_SUPPORTS_HARD_LINKS : FILE_SUPPORTS_REPARSE_POINTS;
    DWORD maxComponent = 0, flags = 0;
    wchar_t fileSystem[32];
    if (!win.GetVolumeInformationW(root, nullptr, 0, nullptr, &maxComponent, &flags, fileSystem, 32)) {
        PrintOut(message, root, LastErrorName());
        return exitCode;
    }
    *support = (flags & capability) != 0;
    if (*support) *list = static_cast<FileIdList*>(AllocZeroed(sizeof(FileIdList)));
    return -1;
}

uint32_t SideSectorSize(bool device, const wchar_t* folder) {
    if (device) return DeviceSectorSize(folder);
    // The drive letter behind the "\\?\" prefix.
    return wcslen(folder) > 4 ? DriveSectorSize(folder[4]) : 512;
}

}  // namespace

void MakeFolderMask(wchar_t* path, size_t capacity) {
    size_t length = wcslen(path);
    if (length == 1 && path[0] != L'\\') return;
    const wchar_t* tail = length > 0 && path[length - 1] == L'\\' ? L"*" : L"\\*";
    size_t tailLength = wcslen(tail);
    if (length + tailLength + 1 > capacity) return;
    memcpy(path + length, tail, (tailLength + 1) * sizeof(wchar_t));
}

uint64_t RoundUp64(uint64_t value, uint64_t multiple) { return (value + multiple - 1) & ~(multiple - 1); }

int SetUpPaths(wchar_t* path1, wchar_t* path2) {
    static PathBuffer current;
    memset(current, 0, sizeof(current));
    DWORD currentLength = win.GetCurrentDirectoryW(kPathChars, current);
    if (currentLength == 0 || currentLength >= kPathChars) {
        wchar_t* name = AnsiToWide(LastErrorName());
        PrintOut("Error %S determining current folder -> abort\n", name);
        FreeBlock(name);
        return kExitPath1Invalid;
    }
    if (EndsWithNoCase(current, L".")) PrintOut("Warning: Current folder ends with a period, this causes problems!\n");
    if (IsExistingFolder(path2) && (EndsWithNoCase(path2, L".") || EndsWithNoCase(path2, L".\\"))) {
        PrintOut("Warning: Target folder ends with a period, this causes problems!\n");
    }

    RunPaths& p = Paths;
    p.mask1[0] = p.mask2[0] = 0;
    if (MakeFullPath(path1) && HasFileNamePart(path1)) {
        CopyPath(p.mask1, kPathChars, IsExistingFolder(path1) ? L"*" : FileNamePart(path1));
    }
    if (MakeFullPath(path2) && IsExistingFolder(path2)) {
        // A folder compared with a target folder that holds a folder of the same name compares
        // with that one.
        if (IsExistingFolder(path1) && HasFileNamePart(path1) && HasFileNamePart(path2) &&
            !SameTextNoCase(FileNamePart(path1), FileNamePart(path2))) {
            static PathBuffer candidate;
            if (CopyPath(candidate, kPathChars, path2) && AppendCharIfMissing(candidate, L'\\') &&
                wcslen(candidate) + wcslen(FileNamePart(path1)) < kPathChars) {
                wcscat(candidate, FileNamePart(path1));
                if (IsExistingFolder(candidate)) CopyPath(path2, kPathChars, candidate);
            }
        }
    }
    Side1IsNull = SameTextNoCase(path1, L"\\\\.\\NUL");
    Side2IsNull = SameTextNoCase(path2, L"\\\\.\\NUL");
    p.device1 = IsDeviceSide(path1);
    p.device2 = IsDeviceSide(path2);

    // A text the system could not complete is taken as relative to the current folder.
    if (!wcschr(path1, L'\\')) {
        static PathBuffer joined;
        if (CopyPath(joined, kPathChars, current) && AppendCharIfMissing(joined, L'\\') &&
            wcslen(joined) + wcslen(path1) < kPathChars) {
            wcscat(joined, path1);
            CopyPath(path1, kPathChars, joined);
        }
    }
    if (IsExistingFolder(path1)) {
        MakeFolderMask(path1);
        Options.recurse = true;
    }
    if (p.device1) ExpandDeviceShortcut(path1);
    if (p.device2) ExpandDeviceShortcut(path2);
    if (OsVersion.major < 6) {
        if (StartsWithNoCase(path1, L"\\\\.\\HarddiskVolume")) LegacyVolumeName(path1);
        if (StartsWithNoCase(path2, L"\\\\.\\HarddiskVolume")) LegacyVolumeName(path2);
    }
    AddLongPathPrefix(path1);
    AddLongPathPrefix(path2);
    VolumeGuidToDevicePath(path1);
    VolumeGuidToDevicePath(path2);
    if (!SplitFolderAndMask(path1, p.folder1, p.mask1)) {
        PrintErr("path1 is invalid (%s) -> abort\n", LastErrorName());
        return kExitPath1Invalid;
    }
    if (!SplitFolderAndMask(path2, p.folder2, p.mask2)) {
        PrintErr("path2 is invalid (%s) -> abort\n", LastErrorName());
        return kExitPath2Invalid;
    }
    CopyPath(BaseFolder1, kPathChars, p.folder1);
    CopyPath(BaseFolder2, kPathChars, p.folder2);

    p.volumeRoot1[0] = p.volumeRoot2[0] = 0;
    if (IsDevicePath(p.folder1)) {
        p.device1 = true;
    } else if (int code =
                   FindVolumeRoot(p.folder1, p.volumeRoot1, "path1 is invalid (%s) -> abort\n", kExitPath1Invalid);
               code >= 0) {
        return code;
    }
    if (IsDevicePath(p.folder2)) {
        p.device2 = true;
    } else if (int code =
                   FindVolumeRoot(p.folder2, p.volumeRoot2, "path2 is invalid (%s) -> abort\n", kExitPath2Invalid);
               code >= 0) {
        return code;
    }

    // Raw devices are read at the same time without asking; files when they lie on two drives.
    ParallelReads = p.device1 || p.device2 || !OnSamePhysicalDrive(p.volumeRoot1, p.volumeRoot2, Options.quiet);

    HardLinkSupport1 = HardLinkSupport2 = false;
    if (!p.device1 && p.volumeRoot1[0]) {
        int code =
            ReadHardLinkSupport(p.volumeRoot1, &HardLinkSupport1, &FileIdLists[0],
                                "invalid source1: GetVolumeInformation(%S) err=%s -> abort\n", kExitVolume1Unreadable);
        if (code >= 0) return code;
    }
    if (!p.device2 && p.volumeRoot2[0]) {
        int code =
            ReadHardLinkSupport(p.volumeRoot2, &HardLinkSupport2, &FileIdLists[1],
                                "invalid source2: GetVolumeInformation(%S) err=%s -> abort\n", kExitVolume2Unreadable);
        if (code >= 0) return code;
    }

    SectorSize1 = SideSectorSize(p.device1, p.folder1);
    SectorSize2 = SideSectorSize(p.device2, p.folder2);
    const uint32_t sectorSize = SectorSize1 > SectorSize2 ? SectorSize1 : SectorSize2;
    Options.startOffset = RoundUp64(Options.startOffset, sectorSize);

    // A single small file needs no megabyte of buffer.
    BlockSize = kDefaultBlockSize;
    if (!HasWildcards(path1)) {
        HANDLE file = win.CreateFileW(path1, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
        uint64_t size = 0;
        if (file != INVALID_HANDLE_VALUE) {
            size = SizeOfFileOrDevice(file);
            win.CloseHandle(file);
        }
        if (size > 0 && size < BlockSize) BlockSize = RoundUp(static_cast<uint32_t>(size), sectorSize);
    }

    // Tree 2 inside tree 1 would make the walk meet its own copies. Paths are compared as the
    // file system compares them, without regard to case.
    static PathBuffer resolved1, resolved2;
    if (!ResolveDrivePath(p.folder1, resolved1, kPathChars)) resolved1[0] = 0;
    if (!ResolveDrivePath(p.folder2, resolved2, kPathChars)) resolved2[0] = 0;
    if (Options.recurse && HasWildcards(path1) && IsExistingFolder(path2) && resolved1[0] &&
        !SameTextNoCase(resolved1, resolved2) && win.StrStrIW(resolved2, resolved1)) {
        PrintOut("target path is below source path (recursion) -> abort\n");
        return kExitRecursion;
    }
    if (IsFloppyPath(resolved1) || IsFloppyPath(resolved2)) BlockSize = 65536;

    if (!Options.quiet) PrintOutW(L"compare %s with %s\n", SkipLongPathPrefix(path1), SkipLongPathPrefix(path2));

    for (uint8_t*& buffer : CompareBuffers) {
        buffer = static_cast<uint8_t*>(ReserveBuffer(uint64_t{BlockSize} + 1));
        if (!buffer) {
            PrintErr("cannot reserve %u bytes for the compare buffers (%s) -> abort\n", BlockSize + 1, LastErrorName());
            return kExitNoMemory;
        }
    }
    win.SetThreadPriority(win.GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    win.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    return -1;
}
