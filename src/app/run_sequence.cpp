#include "app/run_sequence.h"

#include "app/command_line.h"
#include "app/process_environment.h"
#include "base/memory.h"
#include "base/os_version.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/keys.h"
#include "console/status_line.h"
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
    // The comparison itself is not built yet.
    return EndRun(0);
}
