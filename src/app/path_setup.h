// Turning the two path arguments into what the comparison needs: full paths, folder and mask of
// each side, device forms, volume roots, and the run state that depends on them (parallel
// reading, hard links, sector sizes, block size, compare buffers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/exit_codes.h"
#include "base/run_state.h"
#include "base/types.h"

// In place: a folder path becomes a search mask for everything in it.
void MakeFolderMask(wchar_t* path, size_t capacity = kPathChars);

// Whether the two paths are stored on one physical drive, which is read one side after the other;
// tells what the resolution met and, unless `quiet`, the decision.
bool ReportOnSamePhysicalDrive(const wchar_t* path1, const wchar_t* path2, bool quiet);

// Sets up the run's paths (path1 and path2 rewritten in place) and the run state that follows
// from them.
StepResult SetUpPaths(RunState* run);
