// The result list of -o:file: one line per entry of the run, a mark and the entry's path
// relative to the roots, for scripts that act on what differs, is missing or could not be read.
// Lines are UTF-8 ending in CR LF, each written whole as the run goes, so that a stopped or killed
// run leaves a list that is true as far as it goes.
//
//   = path            identical
//   * path            different
//   - path            missing in tree 2 (a folder ends with a backslash)
//   ! path<TAB>why    could not be read or not verified
//   > path            a link of tree 1 reproduced in tree 2
//   + path            only in tree 2 (with -b)
#pragma once

#include "base/run_state.h"

// Creates the file (replacing one of that name) before anything is compared. False, with its
// line printed, when it cannot be created.
bool OpenResultList(RunState* run, const wchar_t* path);

// Writes one line; nothing without a result list. A write that fails is reported once, and the
// run then counts as not verified: its list is incomplete.
void WriteResult(RunState* run, char mark, const wchar_t* path, const char* why = nullptr);

// The line of a compared pair, from its outcome and the reason the pair noted.
void WritePairResult(RunState* run, CompareOutcome outcome, const wchar_t* path);

void CloseResultList(RunState* run);
