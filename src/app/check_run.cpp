#include "app/check_run.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/scoped_handles.h"
#include "compare/compare_pair.h"
#include "compare/error_names.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/prompts.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "tree/pairs_in_flight.h"
#include "tree/result_list.h"
#include "tree/sum_file.h"
#include "tree/unlisted_files.h"

namespace {

// Files queued ahead of the one being checked, for the pairs in flight.
constexpr uint32_t kAhead = 16;

// The entries to check: all of them, or with a file as the path only the one of its name.
struct CheckList {
    const SumList* sums;
    uint64_t only;  // the one entry to check, or kAll
    static constexpr uint64_t kAll = UINT64_MAX;
};

bool Checked(const CheckList& list, uint64_t i) { return list.only == CheckList::kAll || list.only == i; }

// The root the listed paths are relative to, with its trailing backslash; with a file as the path,
// the one entry that names it.
bool FindRoot(RunState* run, const SumList& sums, CheckList* list) {
    list->sums = &sums;
    list->only = CheckList::kAll;
    if (HasWildcards(run->path1)) return true;
    const wchar_t* name = FileNamePart(run->path1);
    if (const SumEntry* entry = FindSumEntry(&sums, name)) {
        list->only = static_cast<uint64_t>(entry - sums.entries);
        return true;
    }
    PrintErr("the sum file does not list ");
    PrintErrLongPath(name);
    PrintErr(" -> abort\n");
    return false;
}

// One listed file: read, hashed, checked. A job of the pairs in flight may have opened and read it.
void CheckFile(RunState* run, const SumEntry& entry, wchar_t* path, size_t rootLength, PairJob* job) {
    const size_t length = wcslen(entry.path);
    memcpy(path + rootLength, entry.path, (length + 1) * sizeof(wchar_t));
    if (!Options.quiet) PrintOutLongPath("Checking %S\n", entry.path);
    PairPool* pool = run->setup.Pool;
    PairSides* ahead = job ? AwaitPair(pool, job) : nullptr;
    if (job && !ahead && StopRequested()) {
        ReleasePair(pool, job);
        return;
    }
    memcpy(run->sums.expected, entry.digest, sizeof entry.digest);
    CompareOutcome outcome = CompareFilePair(run, path, path, true, ahead);
    if (job) ReleasePair(pool, job);
    ++run->counts.ResultCounters[outcome];
    WritePairResult(run, outcome, entry.path);
    CheckPauseKey();
}

// The listed files in the order of the sum file, those ahead of the one being checked in flight.
uint32_t CheckListed(RunState* run, const CheckList& list, wchar_t* path, size_t rootLength) {
    const SumList& sums = *list.sums;
    PairJob* jobs[kAhead] = {};
    uint64_t queued = 0;  // entries up to here have had their chance of a job
    uint32_t files = 0;
    for (uint64_t i = 0; i < sums.count && !StopRequested(); ++i) {
        if (!Checked(list, i)) continue;
        for (; run->setup.Pool && queued < sums.count && queued < i + kAhead; ++queued) {
            if (!Checked(list, queued)) continue;
            PairPaths paths{path, rootLength, path, rootLength, sums.entries[queued].path};
            jobs[queued % kAhead] = QueuePair(run->setup.Pool, *run, paths);
        }
        PairJob*& job = jobs[i % kAhead];
        CheckFile(run, sums.entries[i], path, rootLength, job);
        job = nullptr;
        ++files;
    }
    // Jobs of entries not reached (a stop) are waited for and handed back.
    for (PairJob* job : jobs) {
        if (!job) continue;
        AwaitPair(run->setup.Pool, job);
        ReleasePair(run->setup.Pool, job);
    }
    return files;
}

void PrintCheckCounts(const RunState& run, uint32_t files) {
    const RunCounters& c = run.counts;
    if (Options.totallyQuiet) return;
    PrintOut("\n%u files checked\n", files);
    if (c.ResultCounters[Different] > 0) PrintOut("%u files differ from their sums\n", c.ResultCounters[Different]);
    if (c.FilesOnlyIn2 > 0) PrintOut("%u files not listed in the sum file\n", c.FilesOnlyIn2);
    if (c.ResultCounters[Missing] > 0) PrintOut("%u files missing\n", c.ResultCounters[Missing]);
    if (c.ResultCounters[Unreadable] > 0) PrintOut("%u files could not be read\n", c.ResultCounters[Unreadable]);
    if (c.ResultCounters[OtherProblem] > 0) PrintOut("%u files had another problem\n", c.ResultCounters[OtherProblem]);
    if (files == c.ResultCounters[Identical] && c.FilesOnlyIn2 == 0 && !c.WorkStopped && !c.ResultsIncomplete) {
        PrintOut("All files match their sums\n");
    }
}

}  // namespace

StepResult RunSumCheck(RunState* run) {
    SumList sums = {};
    uint32_t badLine = 0;
    if (!ReadSumFile(Options.checkFile, &sums, &badLine)) {
        if (badLine != 0) {
            PrintErr("line %u of the sum file is no SHA-256 sum -> abort\n", badLine);
        } else {
            const DWORD error = win.GetLastError();
            PrintErr("cannot read the sum file '");
            PrintErrLongPath(Options.checkFile);
            PrintErr("' (%s) -> abort\n", ErrorName(error));
        }
        FreeSumList(&sums);
        return EndRunWith(kExitBadArguments);
    }
    CheckList list;
    if (!FindRoot(run, sums, &list)) {
        FreeSumList(&sums);
        return EndRunWith(kExitBadArguments);
    }
    ScopedBlock<wchar_t> path(ScopedPathBuffer());
    const size_t rootLength = wcslen(run->paths.folder1);
    memcpy(path.get(), run->paths.folder1, (rootLength + 1) * sizeof(wchar_t));
    run->setup.FolderRun = list.only == CheckList::kAll;
    run->setup.CheckOnly = true;
    run->setup.Pool = run->setup.FolderRun ? StartPairPool(PairWorkersFor(*run)) : nullptr;
    const uint32_t files = CheckListed(run, list, path.get(), rootLength);
    StopPairPool(run->setup.Pool);
    run->setup.Pool = nullptr;
    if (Options.bothWays && list.only == CheckList::kAll && !StopRequested()) ReportUnlisted(run, sums);
    run->counts.WorkStopped = AbortFlag.load(std::memory_order_relaxed) != 0;
    FreeSumList(&sums);
    if (run->setup.FolderRun || files != 1) PrintCheckCounts(*run, files);
    return kGoOn;
}
