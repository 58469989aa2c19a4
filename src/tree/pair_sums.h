// The sum file of -h: a line for each pair found identical, with the SHA-256 of its bytes and its
// path relative to the root, written as the run goes.
#pragma once

#include "base/run_state.h"

// Creates the file (replacing one of that name) before anything is compared. False, with its
// line printed, when it cannot be created.
bool OpenRunSums(RunState* run, const wchar_t* path);

// The line of a compared pair: only a pair found identical, whose every byte was read on both
// sides and hashed, has one. A pair found identical without a sum, and a line that cannot be
// written, leave the file incomplete: said once, and the run is not verified.
void WritePairSum(RunState* run, CompareOutcome outcome, const wchar_t* relativePath);

void CloseRunSums(RunState* run);
