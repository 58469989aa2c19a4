// With -b in a check against sums: the files of the folder that the sum file does not list, which
// a copy verified by its sums alone would otherwise hide.
#pragma once

#include "base/run_state.h"

struct SumList;

// Walks the run's folder (links are not followed, exclude masks apply) and names each file the sum
// file does not list, nor is the sum file itself: a line, a count, and a '+' in the result list.
void ReportUnlisted(RunState* run, const SumList& sums);
