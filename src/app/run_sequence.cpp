#include "app/run_sequence.h"

#include <cwchar>

#include "app/command_line.h"
#include "app/folder_run.h"
#include "app/path_setup.h"
#include "app/process_environment.h"
#include "base/memory.h"
#include "base/os_version.h"
#include "base/run_options.h"
#include "compare/compare_pair.h"
#include "compare/file_identity.h"
#include "compare/reader_threads.h"
#include "compare/run_state.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/keys.h"
#include "console/status_line.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/disk_listing.h"
#include "storage/volume_listing.h"

PathBuffer path1;
PathBuffer path2;

namespace {

// The run never writes this file; a stale one from an earlier process id is simply removed.
void DeleteStaleErrorLog() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = win.GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t name[40];
    int nameLength = win.wsprintfW(name, L"qvb%u_error_log.txt", win.GetCurrentProcessId());
    if (length + nameLength >= MAX_PATH) return;
    for (int i = 0; i <= nameLength; ++i) path[length + i] = name[i];
    win.DeleteFileW(path);
}

int EndRun(int code) {
    WaitBeforeClose(Session, Options.noWait);
    return code;
}

// A run that differs says so first; then one with missing files; then one that could not read
// or finish every pair, or whose folder walk stopped early at a limit, which must never pass for
// a verified copy.
int RunExitCode() {
    if (ResultCounters[Different] > 0) return kExitDifferent;
    if (ResultCounters[Missing] > 0) return kExitMissing;
    if (ResultCounters[Unreadable] > 0 || ResultCounters[OtherProblem] > 0) return kExitIncomplete;
    if (AbortFlag.load(std::memory_order_relaxed) != 0) return kExitIncomplete;
    return kExitIdentical;
}

int CleanUpRun() {
    ReleaseRunResources();
    if (CursorColumn() > 0) PrintOut("\n");
    win.SetThreadExecutionState(ES_CONTINUOUS);
    WaitBeforeClose(Session, Options.noWait);
    CloseConsoleSession(Session);
    FreeBlock(Session);
    Session = nullptr;
    return RunExitCode();
}

}  // namespace

int RunMainSequence(int count, wchar_t** args) {
    HardenDllSearch();
    MainThreadId = win.GetCurrentThreadId();
    RecordProcessHeap();
    static PathBuffer programPath;
    DWORD length = win.GetModuleFileNameW(nullptr, programPath, kPathChars);
    if (length == 0 || length >= kPathChars) programPath[0] = 0;
    ReadOwnVersion(programPath, &ProgramVersion);

    Session = static_cast<ConsoleSession*>(AllocZeroed(sizeof(ConsoleSession)));
    OpenConsoleSession(Session);
    if (IsStandalone()) WidenConsole();

    if (count == 1) {
        PrintUsage();
        return EndRun(2);
    }
    DeleteStaleErrorLog();
    ReadOsVersion(&OsVersion);

    switch (RunOptionLoop(count, args, &Options, path1, path2)) {
        case OptionLoopResult::ListVolumes: ListVolumes(); return EndRun(0);
        case OptionLoopResult::ListDisks: ListDisks(); return EndRun(0);
        case OptionLoopResult::TooManyPaths: return EndRun(3);
        case OptionLoopResult::Done: break;
    }
    EnableBackupPrivileges();
    if (path1[0] == 0) {
        PrintOut("invalid path1\n");
        return EndRun(3);
    }
    if (path2[0] == 0) {
        PrintOut("invalid path2\n");
        return EndRun(3);
    }
    if (int code = SetUpPaths(path1, path2); code >= 0) return EndRun(code);

    if (HasWildcards(path1)) {
        if (int code = RunFolderComparison(); code >= 0) return EndRun(code);
    } else {
        if (!SourceFileExists(path1)) {
            PrintOut("source file not found -> abort\n");
            return EndRun(kExitMissing);
        }
        // A target folder takes the file of the same name.
        static PathBuffer second;
        const wchar_t* target = path2;
        if (IsExistingFolder(path2) && wcslen(Paths.folder2) + wcslen(Paths.mask1) < kPathChars) {
            win.wsprintfW(second, L"%s%s", Paths.folder2, Paths.mask1);
            target = second;
        }
        uint32_t hardLinks = 0;
        CompareOutcome outcome = CompareFilePair(path1, target, &hardLinks, HasStreamName(path1));
        ++ResultCounters[outcome];
    }
    return CleanUpRun();
}
