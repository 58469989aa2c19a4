#include "tree/result_list.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "compare/error_names.h"
#include "console/console_output.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

// The file and a line's worth of room: the longest path takes three bytes a character in UTF-8.
struct ResultList {
    HANDLE file;
    char line[3 * kPathChars + 256];
};

bool OpenResultList(RunState* run, const wchar_t* path) {
    HANDLE file = win.CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = win.GetLastError();
        PrintErr("cannot create the result file '");
        PrintErrLongPath(path);
        PrintErr("' (%s) -> abort\n", ErrorName(error));
        return false;
    }
    auto* list = static_cast<ResultList*>(AllocZeroed(sizeof(ResultList)));
    list->file = file;
    run->setup.Results = list;
    return true;
}

namespace {

// Said once: nothing is written after the first line that could not be.
void EndIncomplete(RunState* run, DWORD error) {
    PrintErr("error %s writing the result file: the list is incomplete\n", ErrorName(error));
    run->counts.ResultsIncomplete = true;
}

}  // namespace

void WriteResult(RunState* run, char mark, const wchar_t* path, const char* why) {
    ResultList* list = run->setup.Results;
    if (!list || run->counts.ResultsIncomplete) return;
    char* line = list->line;
    size_t at = 0;
    line[at++] = mark;
    line[at++] = ' ';
    // A name that is no valid UTF-16 (an unpaired surrogate, which NTFS allows) would be written
    // with a replacement character and name another file, so it fails as a path too long would.
    int bytes =
        win.WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, line + at, 3 * kPathChars, nullptr, nullptr);
    // A line without its path would name nothing: the list ends before it, as after a failed write.
    if (bytes <= 0) {
        EndIncomplete(run, win.GetLastError());
        return;
    }
    at += static_cast<size_t>(bytes - 1);
    if (why && *why) {
        line[at++] = '\t';
        size_t length = strlen(why);
        memcpy(line + at, why, length);
        at += length;
    }
    line[at++] = '\r';
    line[at++] = '\n';
    DWORD written = 0;
    // One write a line: a killed run leaves whole lines only.
    if (win.WriteFile(list->file, line, static_cast<DWORD>(at), &written, nullptr) && written == at) return;
    EndIncomplete(run, win.GetLastError());
}

void WritePairResult(RunState* run, CompareOutcome outcome, const wchar_t* path) {
    static const char kMarks[] = {'=', '*', '-', '!', '!'};
    const char* why = run->pair.Reason[0] ? run->pair.Reason : nullptr;
    if (outcome == OtherProblem && !why) why = "not compared: the run was stopped";
    WriteResult(run, kMarks[outcome], path, outcome == Unreadable || outcome == OtherProblem ? why : nullptr);
}

void CloseResultList(RunState* run) {
    ResultList* list = run->setup.Results;
    if (!list) return;
    win.CloseHandle(list->file);
    FreeBlock(list);
    run->setup.Results = nullptr;
}
