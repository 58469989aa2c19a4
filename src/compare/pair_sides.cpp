#include "compare/pair_sides.h"

#include <cwchar>

#include "base/run_options.h"
#include "compare/device_size.h"
#include "compare/error_names.h"
#include "compare/reader_threads.h"
#include "console/console_output.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

bool PairKeyWanted(const RunState& run) { return run.setup.FileIds != nullptr; }

namespace {

// "Cannot open fileN for compare '...'" and the error; a path beyond the formatter's limit goes
// out whole instead of taking the error line with it.
void PrintCannotOpen(int side, const wchar_t* path, DWORD error) {
    const wchar_t* shown = SkipLongPathPrefix(path);
    if (wcslen(shown) + 64 < static_cast<size_t>(kFormatLimit)) {
        PrintErr("\rCannot open file%i for compare '%S'\nerr=%s\n", side + 1, shown, ErrorName(error));
        return;
    }
    PrintErr("\rCannot open file%i for compare '", side + 1);
    PrintErrLongPath(shown);
    PrintErr("'\nerr=%s\n", ErrorName(error));
}

// "Cannot read the size of fileN" and the error: a size that cannot be told is no size of 0, and
// nothing of the pair can be compared.
void PrintCannotSize(int side, const wchar_t* path, DWORD error) {
    PrintErr("\rCannot read the size of file%i '", side + 1);
    PrintErrLongPath(SkipLongPathPrefix(path));
    PrintErr("'\nerr=%s\n", ErrorName(error));
}

// The sizes of both sides; kSizeUnknown of a device means reading to its end. The null device
// has no size to ask: the other side's stands for it.
bool ReadSizes(RunState* runState, const wchar_t* const paths[2], PairSides* sides) {
    const RunState& run = *runState;
    // A file checked against its sum is its own side 2.
    sides->sizes[1] = 0;
    for (int side = 0; side < SidesRead(run); ++side) {
        const bool device = run.paths.device[side];
        const HANDLE handle = run.pair.side[side].handle;
        sides->sizes[side] = 0;
        if (run.setup.SideIsNull[side]) continue;
        // A serial port or a console would block in its first read until someone types.
        if (device && win.GetFileType(handle) == FILE_TYPE_CHAR) {
            PrintErr("file%i is a character device, not a file, volume or disk -> abort\n", side + 1);
            NoteReason(&runState->pair, "file%i is a character device", side + 1);
            return false;
        }
        sides->sizes[side] = SizeOfFileOrDevice(handle, device);
        if (sides->sizes[side] == kSizeUnknown && !device) {
            DWORD error = win.GetLastError();
            PrintCannotSize(side, paths[side], error);
            NoteReason(&runState->pair, "%s reading the size of file%i", ErrorName(error), side + 1);
            return false;
        }
    }
    if (run.setup.CheckOnly) sides->sizes[1] = sides->sizes[0];
    return true;
}

// In a tree only a side with several links can come again or be the other side itself, and only
// volumes that keep hard links are asked; the one pair of the command line is always asked, for
// it may name one file twice.
bool ReadSidesKey(const RunState& run, bool skipHardLinkCheck, PairSides* sides) {
    if (skipHardLinkCheck || run.setup.CheckOnly || run.paths.device[0] || run.paths.device[1]) return false;
    if (run.setup.SideIsNull[0] || run.setup.SideIsNull[1]) return false;
    if (run.setup.FolderRun && !PairKeyWanted(run)) return false;
    return ReadPairKey(run.pair.side[0].handle, run.pair.side[1].handle, run.setup.FolderRun, &sides->key);
}

}  // namespace

bool OpenPairSides(RunState* run, const wchar_t* const paths[2], bool skipHardLinkCheck, PairSides* sides,
                   CompareOutcome* failed) {
    *sides = PairSides{};
    sides->handles[0] = sides->handles[1] = INVALID_HANDLE_VALUE;
    sides->openFlags = run->OpenFlags;
    TakeSides(run, paths, sides);
    for (int side = 0; side < SidesRead(*run); ++side) {
        HANDLE handle =
            win.CreateFileW(paths[side], GENERIC_READ, kSideShareMode, nullptr, OPEN_EXISTING, run->OpenFlags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = win.GetLastError();
            PrintCannotOpen(side, paths[side], error);
            NoteReason(&run->pair, "%s opening file%i", ErrorName(error), side + 1);
            *failed = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Missing : Unreadable;
            return false;
        }
        run->pair.side[side].handle = handle;
    }
    if (!ReadSizes(run, paths, sides)) {
        *failed = Unreadable;
        return false;
    }
    sides->keyOk = ReadSidesKey(*run, skipHardLinkCheck, sides);
    sides->oneFile = sides->keyOk && ProvenOneFile(run->pair.side[0].handle, run->pair.side[1].handle, sides->key);
    return true;
}

void TakeSides(RunState* run, const wchar_t* const paths[2], PairSides* sides) {
    for (int side = 0; side < 2; ++side) {
        PairSide& own = run->pair.side[side];
        own.path = paths[side];
        own.handle = sides->handles[side];
        own.openFlags = sides->openFlags;
        own.sectorSize = run->setup.SectorSize[side];
        sides->handles[side] = INVALID_HANDLE_VALUE;
    }
}

void CloseSides(RunState* run) {
    for (PairSide& side : run->pair.side) {
        if (side.handle != INVALID_HANDLE_VALUE) win.CloseHandle(side.handle);
        side.handle = INVALID_HANDLE_VALUE;
    }
}
