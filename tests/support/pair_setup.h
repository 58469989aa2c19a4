// The run state that the pair comparison reads, set as the run sequence would set it, and put
// back afterwards. Blocks can be made small, so that a few KiB of test data make many blocks.
#pragma once

#include <cstdint>

#include "console/console_session.h"

struct PairSetup {
    explicit PairSetup(uint32_t blockSize = 1048576, uint32_t sectorSize = 512);
    ~PairSetup();
    PairSetup(const PairSetup&) = delete;
    PairSetup& operator=(const PairSetup&) = delete;

    // Standard output redirected unless a test installs a console of its own.
    ConsoleSession session{};
};

void ResetStopFlags();
