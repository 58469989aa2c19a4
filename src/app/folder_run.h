// Folder mode: tree 1 against tree 2, ending with the run's summary.
#pragma once

#include <cstdint>

#include "app/exit_codes.h"
#include "base/run_state.h"

// Walks the run's folders and prints the summary. Ends the run itself only when there is no
// source folder; otherwise the run goes on to its clean-up.
StepResult RunFolderComparison(RunState* run);

// "1023 Bytes", "1 KB", "2 MB": whole units, the unit word only with `withUnit`. Two calls can be
// used in one print: they alternate between two buffers. Main thread only.
const char* SizeText(int64_t bytes, bool withUnit);
