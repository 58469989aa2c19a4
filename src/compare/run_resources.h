// What the comparison engine holds for a whole run and gives back at its end.
#pragma once

#include "base/run_state.h"

// Stops the reader threads and releases the compare buffers and hard-link lists of the run.
void ReleaseRunResources(RunState* run);
