// -c:file: a folder or a file checked against a sum file alone, years after the comparison that
// wrote it: every file it lists is read whole once, with the comparison's own reading, recovery
// and unread-sector accounting, hashed, and its digest checked against the sum.
#pragma once

#include "app/exit_codes.h"
#include "base/run_state.h"

// Checks the listed files below the run's path (or that one file), prints a line per file and the
// summary. Ends the run itself where the sum file cannot be read or holds a line that is no sum.
StepResult RunSumCheck(RunState* run);
