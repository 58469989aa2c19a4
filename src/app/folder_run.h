#pragma once

// Folder mode: tree 1 against tree 2, ending with the run's summary.
void RunFolderComparison();
