#include "tree/unlisted_files.h"

#include <cwchar>

#include "base/run_options.h"
#include "base/scoped_handles.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "tree/exclude_masks.h"
#include "tree/folder_listing.h"
#include "tree/result_list.h"
#include "tree/sum_file.h"

namespace {

struct UnlistedWalk {
    RunState* run;
    const SumList* sums;
    wchar_t* path;        // the folder being walked, then each entry's name behind it
    size_t rootLength;    // the root's part, with its trailing backslash
    wchar_t* sumFile;     // full, to be left out: it lists the others, not itself
};

void WalkFolder(UnlistedWalk* walk, size_t length) {
    wchar_t* path = walk->path;
    if (length + 2 >= kPathChars) return;
    path[length] = L'*';
    path[length + 1] = 0;
    WIN32_FIND_DATAW entry;
    ScopedFind find(OpenFolderEnumeration(path, &entry));
    if (!find) return;
    do {
        const wchar_t* name = entry.cFileName;
        const size_t nameLength = wcslen(name);
        if (IsDotEntry(name) || IsExcluded(name) || length + nameLength + 2 >= kPathChars) continue;
        memcpy(path + length, name, (nameLength + 1) * sizeof(wchar_t));
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            path[length + nameLength] = L'\\';
            WalkFolder(walk, length + nameLength + 1);
            continue;
        }
        const wchar_t* relative = path + walk->rootLength;
        if (FindSumEntry(walk->sums, relative) || SameNameNoCase(SkipLongPathPrefix(path), walk->sumFile)) continue;
        if (!Options.quiet) PrintOutLongPath("not listed in the sum file: %S\n", relative);
        ++walk->run->counts.FilesOnlyIn2;
        WriteResult(walk->run, '+', relative);
    } while (!StopRequested() && win.FindNextFileW(find.get(), &entry));
}

}  // namespace

void ReportUnlisted(RunState* run, const SumList& sums) {
    ScopedBlock<wchar_t> path(ScopedPathBuffer());
    ScopedBlock<wchar_t> sumFile(ScopedPathBuffer());
    DWORD full = win.GetFullPathNameW(Options.checkFile, kPathChars, sumFile.get(), nullptr);
    if (full == 0 || full >= kPathChars) sumFile.get()[0] = 0;
    UnlistedWalk walk{run, &sums, path.get(), wcslen(run->paths.folder1), sumFile.get()};
    wcscpy(path.get(), run->paths.folder1);
    WalkFolder(&walk, walk.rootLength);
}
