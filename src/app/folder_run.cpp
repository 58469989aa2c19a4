#include "app/folder_run.h"

#include "compare/run_state.h"
#include "console/console_output.h"

// The tree walk is not built yet: a folder source is reported, never passed as verified.
void RunFolderComparison() {
    PrintErr("folder comparison is not available in this build -> abort\n");
    ++ResultCounters[OtherProblem];
}
