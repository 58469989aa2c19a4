#include "tree/pair_sums.h"

#include "base/memory.h"
#include "compare/error_names.h"
#include "compare/sha256.h"
#include "console/console_output.h"
#include "platform/win_api.h"
#include "tree/sum_file.h"

bool OpenRunSums(RunState* run, const wchar_t* path) {
    auto* writer = static_cast<SumWriter*>(AllocZeroed(sizeof(SumWriter)));
    writer->file = INVALID_HANDLE_VALUE;
    if (OpenSumWriter(writer, path)) {
        run->sums.writer = writer;
        return true;
    }
    DWORD error = win.GetLastError();
    FreeBlock(writer);
    PrintErr("cannot create the sum file '");
    PrintErrLongPath(path);
    PrintErr("' (%s) -> abort\n", ErrorName(error));
    return false;
}

void WritePairSum(RunState* run, CompareOutcome outcome, const wchar_t* relativePath) {
    RunSums& sums = run->sums;
    if (!sums.writer || sums.incomplete || outcome != Identical) return;
    if (!run->pair.DigestReady) {
        PrintErr("no SHA-256 taken of ");
        PrintErrLongPath(relativePath);
        PrintErr(": the sum file is incomplete\n");
        sums.incomplete = true;
        return;
    }
    if (WriteSumLine(sums.writer, run->pair.Digest, relativePath)) return;
    PrintErr("error %s writing the sum file: it is incomplete\n", LastErrorName());
    sums.incomplete = true;
}

void CloseRunSums(RunState* run) {
    if (run->sums.writer) {
        if (!CloseSumWriter(run->sums.writer) && !run->sums.incomplete) {
            PrintErr("error %s closing the sum file: it may be incomplete\n", LastErrorName());
            run->sums.incomplete = true;
        }
        FreeBlock(run->sums.writer);
        run->sums.writer = nullptr;
    }
    ReleaseSha256();
}
