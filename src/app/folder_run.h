// Folder mode: tree 1 against tree 2, ending with the run's summary.
#pragma once

#include <cstdint>

// Walks the run's folders and prints the summary. -1 when the run goes on to its clean-up, else
// the exit code of a run that ends here (no source folder).
int RunFolderComparison();

// "1023 Bytes", "1 KB", "2 MB": whole units, the unit word only with `withUnit`. Two calls can be
// used in one print: they alternate between two buffers. Main thread only.
const char* SizeText(int64_t bytes, bool withUnit);
