// The run state that the pair comparison reads, set as the run sequence would set it, and put
// back afterwards. Blocks can be made small, so that a few KiB of test data make many blocks.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "console/console_session.h"
#include "support/seam.h"

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

// Both sides are devices whose driver tells no length, as a Linux block device under Wine: a file
// size of 0 without an error, and no length query answered. They are read to their ends.
struct UntoldDeviceLengths {
    UntoldDeviceLengths();
    ~UntoldDeviceLengths();
    SeamOverride<decltype(win.GetFileSize)> size;
    SeamOverride<decltype(win.DeviceIoControl)> ioctl;
};

// A clock whose every reading lies a second after the last: every read looks slow, as from a disk
// that seeks, so that the long turns are taken and not left for data at memory speed.
struct SlowClock {
    SlowClock();
    SeamOverride<decltype(win.QueryPerformanceCounter)> clock;
};
