// The program entry. The C runtime's own argument vector is not used: the command line is split
// by the program's own rules.
#include "app/command_line.h"
#include "app/process_environment.h"
#include "app/run_sequence.h"
#include "base/memory.h"
#include "base/run_state.h"
#include "platform/win_api.h"

int main() {
    HardenDllSearch();
    RecordProcessHeap();
    int count = 0;
    wchar_t* args[kArgumentSlots];
    wchar_t* buffer = SplitCommandLine(win.GetCommandLineW(), &count, args);
    static RunState run;  // the path buffers make it too large for the stack
    SetRunStateDefaults(&run);
    int code = RunMainSequence(&run, count, args);
    FreeBlock(buffer);
    win.ExitProcess(static_cast<UINT>(code));
}
