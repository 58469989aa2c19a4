#include "app/path_setup.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/os_version.h"
#include "base/run_options.h"
#include "base/scoped_handles.h"
#include "compare/device_size.h"
#include "compare/error_names.h"
#include "compare/file_identity.h"
#include "console/console_output.h"
#include "paths/path_forms.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"
#include "storage/drive_identity.h"
#include "storage/sector_size.h"

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
    ScopedBlock<wchar_t> full = ScopedPathBuffer();
    DWORD length = win.GetFullPathNameW(path, kPathChars, full.get(), nullptr);
    if (length == 0 || length >= kPathChars) return false;
    memcpy(path, full.get(), (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
    return true;
}

// \\.\pd1 stands for \\.\PhysicalDrive1, \\.\hdv3 for \\.\HarddiskVolume3.
void ExpandDeviceShortcut(wchar_t* path) {
    ScopedBlock<wchar_t> expanded = ScopedPathBuffer();
    if (StartsWithNoCase(path, L"\\\\.\\pd") && path[6] >= L'0' && path[6] <= L'9') {
        win.wsprintfW(expanded.get(), L"\\\\.\\PhysicalDrive%s", path + 6);
        CopyPath(path, kPathChars, expanded.get());
    }
    if (StartsWithNoCase(path, L"\\\\.\\hdv") && path[7] >= L'0' && path[7] <= L'9') {
        win.wsprintfW(expanded.get(), L"\\\\.\\HarddiskVolume%s", path + 7);
        CopyPath(path, kPathChars, expanded.get());
    }
}

// The volume root of one side, or the end of the run after its message.
StepResult FindVolumeRoot(const wchar_t* folder, wchar_t* root, const char* message, ExitCode exitCode) {
    ScopedBlock<wchar_t> resolved = ScopedPathBuffer();
    if (!ResolveDrivePath(folder, resolved.get(), kPathChars) || !VolumeRootOf(resolved.get(), root, MAX_PATH + 1)) {
        PrintErr(message, LastErrorName());
        return EndRunWith(exitCode);
    }
    return kGoOn;
}

// Whether the volume of `root` keeps hard links; the end of the run after its message when the
// volume cannot be asked.
StepResult ReadHardLinkSupport(const wchar_t* root, bool* support, const char* message, ExitCode exitCode) {
    DWORD capability = OsVersion.code >= 0x601 ? FILE_SUPPORTS_HARD_LINKS : FILE_SUPPORTS_REPARSE_POINTS;
    DWORD maxComponent = 0, flags = 0;
    wchar_t fileSystem[32];
    if (!ReadVolumeFlags(root, &flags, &maxComponent, fileSystem, 32)) {
        PrintOut(message, root, LastErrorName());
        return EndRunWith(exitCode);
    }
    *support = (flags & capability) != 0;
    return kGoOn;
}

uint32_t SideSectorSize(bool device, const wchar_t* folder) {
    if (device) return DeviceSectorSize(folder);
    // The drive letter behind the "\\?\" prefix.
    return wcslen(folder) > 4 ? DriveSectorSize(folder[4]) : 512;
}

// The current folder, which a relative path is taken against, with the warnings about folder
// names the system handles badly.
StepResult ReadCurrentFolder(const wchar_t* path2, wchar_t* current) {
    DWORD currentLength = win.GetCurrentDirectoryW(kPathChars, current);
    if (currentLength == 0 || currentLength >= kPathChars) {
        wchar_t* name = AnsiToWide(LastErrorName());
        PrintOut("Error %S determining current folder -> abort\n", name);
        FreeBlock(name);
        return EndRunWith(kExitPath1Invalid);
    }
    if (EndsWithNoCase(current, L".")) PrintOut("Warning: Current folder ends with a period, this causes problems!\n");
    if (IsExistingFolder(path2) && (EndsWithNoCase(path2, L".") || EndsWithNoCase(path2, L".\\"))) {
        PrintOut("Warning: Target folder ends with a period, this causes problems!\n");
    }
    return kGoOn;
}

// Full paths, the file mask of side 1, and a target folder that holds a folder of the source's
// name standing for that folder.
void MakeFullPaths(RunState* run) {
    wchar_t* path1 = run->path1;
    wchar_t* path2 = run->path2;
    RunPaths& p = run->paths;
    p.mask1[0] = p.mask2[0] = 0;
    if (MakeFullPath(path1) && HasFileNamePart(path1)) {
        CopyPath(p.mask1, kPathChars, IsExistingFolder(path1) ? L"*" : FileNamePart(path1));
    }
    if (!MakeFullPath(path2) || !IsExistingFolder(path2)) return;
    if (IsExistingFolder(path1) && HasFileNamePart(path1) && HasFileNamePart(path2) &&
        !SameTextNoCase(FileNamePart(path1), FileNamePart(path2))) {
        ScopedBlock<wchar_t> candidate = ScopedPathBuffer();
        if (CopyPath(candidate.get(), kPathChars, path2) && AppendCharIfMissing(candidate.get(), L'\\') &&
            wcslen(candidate.get()) + wcslen(FileNamePart(path1)) < kPathChars) {
            wcscat(candidate.get(), FileNamePart(path1));
            if (IsExistingFolder(candidate.get())) CopyPath(path2, kPathChars, candidate.get());
        }
    }
}

// Both paths in the forms the comparison opens: the null device and raw devices recognised, a
// folder turned into its mask, device shortcuts expanded, the long-path prefix added.
void NormalisePaths(RunState* run, const wchar_t* current) {
    wchar_t* path1 = run->path1;
    wchar_t* path2 = run->path2;
    RunPaths& p = run->paths;
    MakeFullPaths(run);
    run->setup.SideIsNull[0] = SameTextNoCase(path1, L"\\\\.\\NUL");
    run->setup.SideIsNull[1] = SameTextNoCase(path2, L"\\\\.\\NUL");
    p.device[0] = IsDeviceSide(path1);
    p.device[1] = IsDeviceSide(path2);

    // A text the system could not complete is taken as relative to the current folder.
    if (!wcschr(path1, L'\\')) {
        ScopedBlock<wchar_t> joined = ScopedPathBuffer();
        if (CopyPath(joined.get(), kPathChars, current) && AppendCharIfMissing(joined.get(), L'\\') &&
            wcslen(joined.get()) + wcslen(path1) < kPathChars) {
            wcscat(joined.get(), path1);
            CopyPath(path1, kPathChars, joined.get());
        }
    }
    if (IsExistingFolder(path1)) {
        MakeFolderMask(path1);
        Options.recurse = true;
    }
    if (p.device[0]) ExpandDeviceShortcut(path1);
    if (p.device[1]) ExpandDeviceShortcut(path2);
    if (OsVersion.major < 6) {
        if (StartsWithNoCase(path1, L"\\\\.\\HarddiskVolume")) LegacyVolumeName(path1);
        if (StartsWithNoCase(path2, L"\\\\.\\HarddiskVolume")) LegacyVolumeName(path2);
    }
    AddLongPathPrefix(path1);
    AddLongPathPrefix(path2);
    VolumeGuidToDevicePath(path1);
    VolumeGuidToDevicePath(path2);
}

StepResult SplitFoldersAndMasks(RunState* run) {
    RunPaths& p = run->paths;
    if (!SplitFolderAndMask(run->path1, p.folder1, p.mask1)) {
        PrintErr("path1 is invalid (%s) -> abort\n", LastErrorName());
        return EndRunWith(kExitPath1Invalid);
    }
    if (!SplitFolderAndMask(run->path2, p.folder2, p.mask2)) {
        PrintErr("path2 is invalid (%s) -> abort\n", LastErrorName());
        return EndRunWith(kExitPath2Invalid);
    }
    CopyPath(run->BaseFolder1, kPathChars, p.folder1);
    CopyPath(run->BaseFolder2, kPathChars, p.folder2);
    return kGoOn;
}

StepResult FindVolumeRoots(RunPaths* p) {
    p->volumeRoot1[0] = p->volumeRoot2[0] = 0;
    if (IsDevicePath(p->folder1)) {
        p->device[0] = true;
    } else if (StepResult step =
                   FindVolumeRoot(p->folder1, p->volumeRoot1, "path1 is invalid (%s) -> abort\n", kExitPath1Invalid);
               step.ended) {
        return step;
    }
    if (IsDevicePath(p->folder2)) {
        p->device[1] = true;
    } else if (StepResult step =
                   FindVolumeRoot(p->folder2, p->volumeRoot2, "path2 is invalid (%s) -> abort\n", kExitPath2Invalid);
               step.ended) {
        return step;
    }
    return kGoOn;
}

// Parallel reading, hard links and sector sizes: what the drives and volumes of both sides are.
StepResult ReadTopology(RunState* run) {
    const RunPaths& p = run->paths;
    // Raw devices are read at the same time without asking; files when they lie on two drives.
    run->setup.ParallelReads =
        p.device[0] || p.device[1] || !ReportOnSamePhysicalDrive(p.volumeRoot1, p.volumeRoot2, Options.quiet || Options.checkFile);
    // Where a side lies on a network drive every read waits a round trip: blocks are read ahead,
    // several at a time. On one drive a hard disk seeks at every switch between the sides: long
    // turns, unless the drive says it has no seek penalty. Where it cannot tell (Wine, older
    // drivers) they cost only memory.
    run->setup.NetworkSide =
        !p.device[0] && !p.device[1] && (IsNetworkRoot(p.volumeRoot1) || IsNetworkRoot(p.volumeRoot2));
    if (!run->setup.ParallelReads && !run->setup.NetworkSide) {
        bool answered = false;
        DriveIdentity drive = ResolveDriveIdentity(p.volumeRoot1);
        bool penalty = drive >= 0 && DiskHasSeekPenalty(drive, &answered);
        run->setup.LongTurns = penalty || !answered;
    }

    run->setup.HardLinkSupport[0] = run->setup.HardLinkSupport[1] = false;
    if (!p.device[0] && p.volumeRoot1[0]) {
        StepResult step =
            ReadHardLinkSupport(p.volumeRoot1, &run->setup.HardLinkSupport[0],
                                "invalid source1: GetVolumeInformation(%S) err=%s -> abort\n", kExitVolume1Unreadable);
        if (step.ended) return step;
    }
    if (!p.device[1] && p.volumeRoot2[0]) {
        StepResult step =
            ReadHardLinkSupport(p.volumeRoot2, &run->setup.HardLinkSupport[1],
                                "invalid source2: GetVolumeInformation(%S) err=%s -> abort\n", kExitVolume2Unreadable);
        if (step.ended) return step;
    }
    // A pair can come again only when both volumes keep hard links.
    if (run->setup.HardLinkSupport[0] && run->setup.HardLinkSupport[1]) run->setup.FileIds = NewFileIdList();

    run->setup.SectorSize[0] = SideSectorSize(p.device[0], p.folder1);
    run->setup.SectorSize[1] = SideSectorSize(p.device[1], p.folder2);
    SetStartOffset(run, Options.startOffset);
    return kGoOn;
}

// Tree 2 inside tree 1 would make the walk meet its own copies. Paths are compared as the file
// system compares them, without regard to case.
bool TargetBelowSource(const RunState& run, const wchar_t* resolved1, const wchar_t* resolved2) {
    return Options.recurse && HasWildcards(run.path1) && IsExistingFolder(run.path2) && resolved1[0] &&
           !SameTextNoCase(resolved1, resolved2) && win.StrStrIW(resolved2, resolved1);
}

// Both roots of a folder run name one folder: the same path once drive letters are resolved, or
// the same folder reached another way (a share of a local folder, a link, a second mount). The
// run would compare every file with itself and call the copy verified. A clone of the volume has
// the same ids on another volume, and is compared.
bool SameFolder(const wchar_t* folder1, const wchar_t* folder2, const wchar_t* resolved1, const wchar_t* resolved2) {
    if (!IsExistingFolder(folder2)) return false;
    if (resolved1[0] && SameTextNoCase(resolved1, resolved2)) return true;
    return PathsAreOneFile(folder1, folder2);
}

// The block size: no megabyte of buffer for a single small file, 64 KiB for a floppy. Ends the
// run when tree 2 lies inside tree 1.
StepResult ChooseBlockSize(RunState* run) {
    const uint32_t sectorSize = LargerSectorSize(*run);
    run->setup.BlockSize = kDefaultBlockSize;
    if (!HasWildcards(run->path1)) {
        ScopedHandle file(win.CreateFileW(run->path1, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        uint64_t size = 0;
        if (file) {
            size = SizeOfFileOrDevice(file.get(), run->paths.device[0] && !run->setup.SideIsNull[0]);
            file.reset();
        }
        if (size > 0 && size < run->setup.BlockSize)
            run->setup.BlockSize = RoundUp(static_cast<uint32_t>(size), sectorSize);
    }
    ScopedBlock<wchar_t> resolved1 = ScopedPathBuffer();
    ScopedBlock<wchar_t> resolved2 = ScopedPathBuffer();
    if (!ResolveDrivePath(run->paths.folder1, resolved1.get(), kPathChars)) resolved1.get()[0] = 0;
    if (!ResolveDrivePath(run->paths.folder2, resolved2.get(), kPathChars)) resolved2.get()[0] = 0;
    // A check against sums reads one folder or file, standing for both sides.
    if (!Options.checkFile && HasWildcards(run->path1) &&
        SameFolder(run->paths.folder1, run->paths.folder2, resolved1.get(), resolved2.get())) {
        PrintOut("target folder is the source folder -> abort\n");
        return EndRunWith(kExitRecursion);
    }
    if (!Options.checkFile && TargetBelowSource(*run, resolved1.get(), resolved2.get())) {
        PrintOut("target path is below source path (recursion) -> abort\n");
        return EndRunWith(kExitRecursion);
    }
    if (IsFloppyPath(resolved1.get()) || IsFloppyPath(resolved2.get())) run->setup.BlockSize = 65536;
    return kGoOn;
}

StepResult ReserveCompareBuffers(RunState* run) {
    for (uint8_t*& buffer : run->setup.CompareBuffers) {
        buffer = static_cast<uint8_t*>(ReserveBuffer(uint64_t{run->setup.BlockSize} + 1));
        if (!buffer) {
            PrintErr("cannot reserve %u bytes for the compare buffers (%s) -> abort\n", run->setup.BlockSize + 1,
                     LastErrorName());
            return EndRunWith(kExitNoMemory);
        }
    }
    return kGoOn;
}

}  // namespace

bool ReportOnSamePhysicalDrive(const wchar_t* path1, const wchar_t* path2, bool quiet) {
    DriveNotes notes = {};
    bool same = OnSamePhysicalDrive(path1, path2, &notes);
    for (int i = 0; i < notes.virtualDisksBeforeWindows7; ++i) {
        PrintOut("error resolving VHD container (Win7 or higher required)\n");
    }
    if (!quiet) {
        PrintOutW(same ? L"Files are located on the same physical drive -> sequential operation\n"
                       : L"Files are located on different physical drives -> parallel operation\n");
    }
    return same;
}

void MakeFolderMask(wchar_t* path, size_t capacity) {
    size_t length = wcslen(path);
    if (length == 1 && path[0] != L'\\') return;
    const wchar_t* tail = length > 0 && path[length - 1] == L'\\' ? L"*" : L"\\*";
    size_t tailLength = wcslen(tail);
    if (length + tailLength + 1 > capacity) return;
    memcpy(path + length, tail, (tailLength + 1) * sizeof(wchar_t));
}

StepResult SetUpPaths(RunState* run) {
    {
        ScopedBlock<wchar_t> current = ScopedPathBuffer();
        if (StepResult step = ReadCurrentFolder(run->path2, current.get()); step.ended) return step;
        NormalisePaths(run, current.get());
    }
    StepResult step = SplitFoldersAndMasks(run);
    if (!step.ended) step = FindVolumeRoots(&run->paths);
    if (!step.ended) step = ReadTopology(run);
    if (!step.ended) step = ChooseBlockSize(run);
    if (step.ended) return step;
    if (!Options.quiet) {
        const wchar_t* shown1 = SkipLongPathPrefix(run->path1);
        const wchar_t* shown2 = SkipLongPathPrefix(run->path2);
        if (Options.checkFile) {
            PrintOutLongPath("check %S\n", shown1);
        } else if (wcslen(shown1) + wcslen(shown2) + 16 < static_cast<size_t>(kFormatLimit)) {
            PrintOutW(L"compare %s with %s\n", shown1, shown2);
        } else {
            PrintOutLongPath("compare %S", shown1);  // paths beyond the formatter's limit, whole
            PrintOutLongPath(" with %S\n", shown2);
        }
    }
    if (step = ReserveCompareBuffers(run); step.ended) return step;
    win.SetThreadPriority(win.GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    win.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    return kGoOn;
}
