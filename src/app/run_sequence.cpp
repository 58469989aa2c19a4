#include "app/run_sequence.h"

#include <cwchar>

#include "app/check_run.h"
#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/folder_run.h"
#include "app/path_setup.h"
#include "app/process_environment.h"
#include "base/memory.h"
#include "base/os_version.h"
#include "base/run_options.h"
#include "base/scoped_handles.h"
#include "compare/compare_pair.h"
#include "compare/file_identity.h"
#include "compare/reader_threads.h"
#include "compare/run_resources.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/keys.h"
#include "console/status_line.h"
#include "console/stop_deadline.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/disk_listing.h"
#include "storage/volume_listing.h"
#include "tree/exclude_masks.h"
#include "tree/pair_sums.h"
#include "tree/result_list.h"

static_assert(kStopDeadlineExitCode == kExitIncomplete, "a run the deadline ends is an incomplete run");

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

// A run that differs says so first; then one with missing files or folders; then one that could
// not read or finish every pair or folder, or whose work stopped early, which must never pass for
// a verified copy. A key pressed after the work (at the closing prompt) changes nothing.
int RunExitCode(const RunState& run) {
    if (run.counts.ResultCounters[Different] > 0) return kExitDifferent;
    // With -b, a copy that holds what the source no longer has is no exact copy either.
    if (run.counts.FilesOnlyIn2 > 0 || run.counts.FoldersOnlyIn2 > 0) return kExitDifferent;
    if (run.counts.ResultCounters[Missing] > 0 || run.counts.FoldersMissing > 0) return kExitMissing;
    if (run.counts.ResultCounters[Unreadable] > 0 || run.counts.ResultCounters[OtherProblem] > 0 ||
        run.counts.FoldersUnreadable > 0 || run.counts.LinksFailed > 0) {
        return kExitIncomplete;
    }
    if (run.counts.WorkStopped || run.counts.ResultsIncomplete || run.sums.incomplete) return kExitIncomplete;
    return kExitIdentical;
}

int CleanUpRun(RunState* run) {
    ReleaseRunResources(run);
    CloseResultList(run);
    CloseRunSums(run);
    if (CursorColumn() > 0) PrintOut("\n");
    win.SetThreadExecutionState(ES_CONTINUOUS);
    WaitBeforeClose(Session, Options.noWait);
    CloseConsoleSession(Session);
    FreeBlock(Session);
    Session = nullptr;
    return RunExitCode(*run);
}

// What a file run compares path 1 with: path 2, or the file of the same name in the folder it
// names. `buffer` holds kPathChars characters.
const wchar_t* FileRunTarget(const RunState& run, wchar_t* buffer) {
    const RunPaths& paths = run.paths;
    if (IsExistingFolder(run.path2) && wcslen(paths.folder2) + wcslen(paths.mask1) < kPathChars) {
        win.wsprintfW(buffer, L"%s%s", paths.folder2, paths.mask1);
        return buffer;
    }
    return run.path2;
}

// Whether the result file, created before anything is compared, would replace what the run reads:
// one of the two files of a file run, or a file at any depth below a root of a folder run (which
// the walk would then also meet as an entry). Both are taken as full paths with substituted and
// network drive letters resolved, and compared without regard to case, as the file system
// compares names.
bool ResultFileInsideTree(const RunState& run, const wchar_t* resultFile) {
    ScopedBlock<wchar_t> full = ScopedPathBuffer();
    ScopedBlock<wchar_t> resolved = ScopedPathBuffer();
    DWORD length = win.GetFullPathNameW(resultFile, kPathChars, full.get(), nullptr);
    // A name that cannot be formed cannot be created either; the open says why.
    if (length == 0 || length >= kPathChars || !ResolveDrivePath(full.get(), resolved.get())) return false;
    ScopedBlock<wchar_t> target = ScopedPathBuffer();
    ScopedBlock<wchar_t> side = ScopedPathBuffer();
    bool folderRun = HasWildcards(run.path1);
    const wchar_t* sides[2] = {folderRun ? run.paths.folder1 : run.path1,
                               folderRun ? run.paths.folder2 : FileRunTarget(run, target.get())};
    for (int i = 0; i < 2; ++i) {
        if (run.paths.device[i] || !ResolveDrivePath(sides[i], side.get())) continue;
        // A root ends with a backslash: a folder beside it that begins with its name is not in it.
        if (folderRun ? StartsWithNoCase(resolved.get(), side.get()) != nullptr
                      : SameNameNoCase(resolved.get(), side.get())) {
            return true;
        }
    }
    return false;
}

// Whether the options make the compared range of a pair less than the whole file, which a sum
// must cover.
bool RangeIsPartial() {
    return Options.startOffset != 0 || Options.firstBytes != 0 || Options.ignoreSizes || SkipsZeroBlocks();
}

// The result list and the sum file, created before anything is compared. Each is refused before
// its open, which would replace the file, where it lies inside what the run reads.
StepResult OpenRunFiles(RunState* run) {
    if (Options.sumFile && Options.checkFile) {
        PrintErr("-h and -c cannot be combined: a check writes no sums -> abort\n");
        return EndRunWith(kExitBadArguments);
    }
    const wchar_t* sums = Options.sumFile ? L"-h" : Options.checkFile ? L"-c" : nullptr;
    if (sums && RangeIsPartial()) {
        PrintErr("a sum covers a whole file: %S cannot be combined with -st, -fi, -i, -sz, -sz1 or -sz2 -> abort\n",
                 sums);
        return EndRunWith(kExitBadArguments);
    }
    const struct {
        const wchar_t* path;
        const char* name;
    } files[] = {{Options.resultFile, "result"}, {Options.sumFile, "sum"}};
    for (const auto& file : files) {
        if (file.path && ResultFileInsideTree(*run, file.path)) {
            PrintErr("the %s file lies inside a compared tree -> abort\n", file.name);
            return EndRunWith(kExitBadArguments);
        }
    }
    if (Options.resultFile && !OpenResultList(run, Options.resultFile)) return EndRunWith(kExitBadArguments);
    if (Options.sumFile && !OpenRunSums(run, Options.sumFile)) return EndRunWith(kExitBadArguments);
    return kGoOn;
}

// A single file against its namesake, or against the file of the same name in a target folder.
StepResult RunFileComparison(RunState* run) {
    if (!SourceFileExists(run->path1)) {
        PrintOut("source file not found -> abort\n");
        return EndRunWith(kExitMissing);
    }
    ScopedBlock<wchar_t> second = ScopedPathBuffer();
    const wchar_t* target = FileRunTarget(*run, second.get());
    // Two streams of one file share its identity, and so do a file and one of its streams.
    bool streams = HasStreamName(run->path1) || HasStreamName(target);
    CompareOutcome outcome = CompareFilePair(run, run->path1, target, streams);
    ++run->counts.ResultCounters[outcome];
    WritePairResult(run, outcome, FileNamePart(SkipLongPathPrefix(run->path1)));
    WritePairSum(run, outcome, FileNamePart(SkipLongPathPrefix(run->path1)));
    run->counts.WorkStopped = AbortFlag.load(std::memory_order_relaxed) != 0;
    return kGoOn;
}

}  // namespace

int RunMainSequence(RunState* run, int count, wchar_t** args) {
    HardenDllSearch();
    MainThreadId = win.GetCurrentThreadId();
    RecordProcessHeap();
    {
        ScopedBlock<wchar_t> programPath = ScopedPathBuffer();
        DWORD length = win.GetModuleFileNameW(nullptr, programPath.get(), kPathChars);
        if (length == 0 || length >= kPathChars) programPath.get()[0] = 0;
        ReadOwnVersion(programPath.get(), &ProgramVersion);
    }

    Session = static_cast<ConsoleSession*>(AllocZeroed(sizeof(ConsoleSession)));
    OpenConsoleSession(Session);
    if (IsStandalone()) WidenConsole();

    // "/?" and "-?" are a Windows console user's first try; a path they cannot be.
    bool asksForHelp = false;
    for (int i = 1; i < count && args[i]; ++i) {
        const wchar_t* a = args[i];
        if ((a[0] == L'/' || a[0] == L'-') && a[1] == L'?' && a[2] == 0) asksForHelp = true;
    }
    if (count == 1 || asksForHelp) {
        PrintUsage();
        return EndRun(kExitUsage);
    }
    DeleteStaleErrorLog();
    ReadOsVersion(&OsVersion);

    switch (RunOptionLoop(count, args, &Options, run->path1, run->path2)) {
        case OptionLoopResult::ListVolumes: ListVolumes(); return EndRun(kExitIdentical);
        case OptionLoopResult::ListDisks: ListDisks(); return EndRun(kExitIdentical);
        case OptionLoopResult::TooManyPaths: return EndRun(kExitBadArguments);
        case OptionLoopResult::Done: break;
    }
    EnableBackupPrivileges();
    if (run->path1[0] == 0) {
        PrintOut("invalid path1\n");
        return EndRun(kExitBadArguments);
    }
    if (Options.checkFile) {
        // A check reads one folder or file: it stands for both sides of the setup.
        if (run->path2[0] != 0) {
            PrintOutLongPath("-c checks one folder or file: invalid path2 %S\n", run->path2);
            return EndRun(kExitBadArguments);
        }
        wcscpy(run->path2, run->path1);
    }
    if (run->path2[0] == 0) {
        PrintOut("invalid path2\n");
        return EndRun(kExitBadArguments);
    }
    if (StepResult step = SetUpPaths(run); step.ended) return EndRun(step.code);
    if (StepResult step = OpenRunFiles(run); step.ended) return EndRun(step.code);
    StepResult step = Options.checkFile            ? RunSumCheck(run)
                      : HasWildcards(run->path1) ? RunFolderComparison(run)
                                                 : RunFileComparison(run);
    if (step.ended) return EndRun(step.code);
    return CleanUpRun(run);
}

void ResetRunState(RunState* run) {
    ReleaseRunResources(run);
    CloseResultList(run);
    CloseRunSums(run);
    for (wchar_t*& mask : ExcludeMasks) {
        FreeBlock(mask);
        mask = nullptr;
    }
    if (Session) {
        FreeBlock(Session);
        Session = nullptr;
    }
    ResetStopFlags();
    ResetPrintCaches();
    Options = kDefaultRunOptions;
    SetRunStateDefaults(run);
}
