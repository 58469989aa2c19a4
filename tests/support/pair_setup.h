// The run state that the pair comparison reads, set as the run sequence would set it, and put
// back afterwards. Blocks can be made small, so that a few KiB of test data make many blocks.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "console/console_session.h"

// The one run state of the test process, on the heap as its path buffers need, at its defaults
// when first used. Fakes installed in the seam read the pair's handles from it.
RunState& TestRun();

struct PairSetup {
    explicit PairSetup(uint32_t blockSize = 1048576, uint32_t sectorSize = 512);
    ~PairSetup();
    PairSetup(const PairSetup&) = delete;
    PairSetup& operator=(const PairSetup&) = delete;

    RunState& run = TestRun();
    // Standard output redirected unless a test installs a console of its own.
    ConsoleSession session{};
};
