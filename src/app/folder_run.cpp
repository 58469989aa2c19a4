#include "app/folder_run.h"

#include "app/path_setup.h"
#include "base/run_options.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/status_line.h"
#include "console/stop_deadline.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "tree/pairs_in_flight.h"
#include "tree/tree_walk.h"

namespace {

char SizeTexts[2][20];
int SizeToggle = 0;

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = kKiB * 1024;
constexpr int64_t kGiB = kMiB * 1024;
constexpr int64_t kTiB = kGiB * 1024;

void PrintLongSummary(const RunState& run, uint32_t files, uint32_t hardLinks, uint32_t elapsed) {
    ClearStatusLine();
    PrintOut("%s in ", SizeText(static_cast<int64_t>(run.counts.BytesComparedTotal), true));
    const char* suffix = Options.recurse ? " and folders" : "";
    if (hardLinks > 0) {
        PrintOut("%i files%s and %i hardlinks compared ", files - hardLinks, suffix, hardLinks);
    } else {
        PrintOut("%i files%s compared ", files, suffix);
    }
    if (elapsed > 2000) PrintOut("with %s", SpeedText(run.counts.BytesComparedTotal, elapsed));
    if (SkipsZeroBlocks()) {
        // What was read, whether compared or found zero: only holes were not.
        uint64_t total = run.counts.BytesComparedTotal;
        uint64_t read = total - run.counts.HoleBytes;
        uint64_t percent = total ? read * 100 / total : 0;
        if (percent > 0) {
            PrintOut("\n %u%% actually read", static_cast<uint32_t>(percent));
        } else {
            PrintOut("\n %s actually read", SizeText(static_cast<int64_t>(read), true));
        }
    }
}

void PrintShortSummary(const RunState& run, uint32_t files) {
    uint32_t compared = files - run.counts.ResultCounters[OtherProblem] - run.counts.ResultCounters[Unreadable] -
                        run.counts.ResultCounters[Missing];
    if (compared == files) {
        PrintOut("%i files compared", files);
    } else {
        PrintOut("%i of %i files compared", compared, files);
    }
}

// A run whose only trouble was pairs it could not read or finish is not "All files identical":
// those pairs are named instead. Nor is a run that was stopped before its end: its stop message
// stands for the files it never reached.
void PrintCounts(const RunState& run) {
    const RunCounters& c = run.counts;
    const uint32_t onlyIn2 = c.FilesOnlyIn2 + c.FoldersOnlyIn2;
    if (c.ResultCounters[Different] > 0) {
        PrintOut("%i files with differences\n", c.ResultCounters[Different]);
        if (c.ResultCounters[Missing] > 0) PrintOut("%i files missing\n", c.ResultCounters[Missing]);
    } else if (c.ResultCounters[Missing] > 0) {
        PrintOut("%i files missing\n", c.ResultCounters[Missing]);
    } else if (c.ResultCounters[Unreadable] == 0 && c.ResultCounters[OtherProblem] == 0 && c.FoldersMissing == 0 &&
               c.FoldersUnreadable == 0 && c.LinksFailed == 0 && !c.WorkStopped && onlyIn2 == 0 &&
               !c.ResultsIncomplete) {
        PrintOut("All files identical\n");
        return;
    }
    if (c.FilesOnlyIn2 > 0) PrintOut("%i files only in tree 2\n", c.FilesOnlyIn2);
    if (c.FoldersOnlyIn2 > 0) PrintOut("%i folders only in tree 2\n", c.FoldersOnlyIn2);
    if (c.FoldersMissing > 0) PrintOut("%i folders missing\n", c.FoldersMissing);
    if (c.ResultCounters[Unreadable] > 0) PrintOut("%i files could not be read\n", c.ResultCounters[Unreadable]);
    if (c.FoldersUnreadable > 0) PrintOut("%i folders could not be read\n", c.FoldersUnreadable);
    if (c.LinksFailed > 0) PrintOut("%i links could not be reproduced\n", c.LinksFailed);
    if (c.ResultCounters[OtherProblem] > 0) PrintOut("%i files had another problem\n", c.ResultCounters[OtherProblem]);
}

}  // namespace

const char* SizeText(int64_t bytes, bool withUnit) {
    SizeToggle ^= 1;
    char* text = SizeTexts[SizeToggle];
    int64_t number;
    const char* letter = "";
    if (bytes < kKiB) {
        number = bytes;
    } else if (bytes < kMiB) {
        number = bytes / kKiB;
        letter = "K";
    } else if (bytes < kGiB) {
        number = (bytes + kMiB / 2) / kMiB;
        letter = "M";
    } else if (bytes < kTiB) {
        number = (bytes + kGiB / 2) / kGiB;
        letter = "G";
    } else {
        number = (bytes / 2 + kTiB / 4) / (kTiB / 2);  // halved first: bytes + 2^39 may not fit
        letter = "T";
    }
    const char* word = !withUnit ? "" : bytes < kKiB ? "Bytes" : "B";
    win.wsprintfA(text, "%u %s%s", static_cast<uint32_t>(number), letter, word);
    win.StrTrimA(text, " \t");
    return text;
}

StepResult RunFolderComparison(RunState* run) {
    RunPaths& paths = run->paths;
    if (!IsExistingFolder(paths.folder1)) {
        PrintOut("source folder not found -> abort\n");
        return EndRunWith(kExitSourceFolderMissing);
    }
    // A target that names no folder would make its last component a mask of tree 2, and its
    // parent the tree compared.
    if (!HasWildcards(run->path2) && !IsExistingFolder(run->path2)) {
        PrintOutLongPath("folder2 not found: %S\n", run->path2);
        return EndRunWith(kExitMissing);
    }
    // With a mask of its own the target still needs its folder, even when tree 1 has no entry
    // that would look for it.
    if (HasWildcards(run->path2) && !IsExistingFolder(paths.folder2)) {
        PrintOutLongPath("folder2 not found: %S\n", paths.folder2);
        return EndRunWith(kExitMissing);
    }
    uint32_t start = win.GetTickCount();
    // Decided once per run: pairs in flight, or one pair at a time.
    run->setup.FolderRun = true;
    run->setup.Pool = StartPairPool(PairWorkersFor(*run));
    uint32_t files = CompareFolderTree(run, paths.folder1, paths.mask1, paths.folder2, 0);
    StopPairPool(run->setup.Pool);
    run->setup.Pool = nullptr;
    run->counts.WorkStopped = AbortFlag.load(std::memory_order_relaxed) != 0;
    // From here on the summary: no deadline after a stop may cut it.
    NoteWorkEnded();
    // One file needs no summary of its own, unless the tree held more that could not be compared:
    // its verdict alone would hide the folders behind it.
    const RunCounters& c = run->counts;
    bool treeTrouble = c.FoldersMissing > 0 || c.FoldersUnreadable > 0 || c.LinksFailed > 0 || c.FilesOnlyIn2 > 0 ||
                       c.FoldersOnlyIn2 > 0;
    if (Options.totallyQuiet || (static_cast<int32_t>(files) <= 1 && !treeTrouble) ||
        InterruptFlag.load(std::memory_order_relaxed)) {
        return kGoOn;
    }
    uint32_t elapsed = win.GetTickCount() - start;
    if (elapsed > 1000 || run->counts.BytesComparedTotal > 1048576) {
        PrintLongSummary(*run, files, run->counts.HardLinks, elapsed);
    } else {
        PrintShortSummary(*run, files);
    }
    PrintOut("\n");
    PrintCounts(*run);
    return kGoOn;
}
