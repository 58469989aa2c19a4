#include "support/pair_setup.h"

#include "base/memory.h"
#include "base/run_options.h"
#include "compare/run_resources.h"
#include "console/control_handler.h"

RunState& TestRun() {
    static RunState* run = [] {
        auto* state = new RunState;
        SetRunStateDefaults(state);
        return state;
    }();
    return *run;
}

PairSetup::PairSetup(uint32_t blockSize, uint32_t sectorSize) {
    ResetStopFlags();
    Options = kDefaultRunOptions;
    SetRunStateDefaults(&run);
    run.setup.BlockSize = blockSize;
    for (uint8_t*& buffer : run.setup.CompareBuffers) buffer = static_cast<uint8_t*>(ReserveBuffer(blockSize + 1));
    run.setup.SectorSize[0] = run.setup.SectorSize[1] = sectorSize;
    session.outputRedirected = 1;
    Session = &session;
}

PairSetup::~PairSetup() {
    // Lists belong to the test that installed them; the rest, readers included, is the run's.
    run.setup.FileIds = nullptr;
    ReleaseRunResources(&run);
    SetRunStateDefaults(&run);
    Session = nullptr;
    Options = kDefaultRunOptions;
    ResetStopFlags();
}

UntoldDeviceLengths::UntoldDeviceLengths()
    : size(
          win.GetFileSize,
          +[](HANDLE, LPDWORD high) -> DWORD {
              *high = 0;
              ::SetLastError(0);
              return 0;
          }),
      ioctl(
          win.DeviceIoControl, +[](HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL {
              ::SetLastError(ERROR_NOT_SUPPORTED);
              return FALSE;
          }) {
    TestRun().paths.device[0] = TestRun().paths.device[1] = true;
}

UntoldDeviceLengths::~UntoldDeviceLengths() { TestRun().paths = {}; }

SlowClock::SlowClock()
    : clock(
          win.QueryPerformanceCounter, +[](LARGE_INTEGER* count) -> BOOL {
              static LONGLONG seconds = 0;
              LARGE_INTEGER frequency;
              ::QueryPerformanceFrequency(&frequency);
              count->QuadPart = ++seconds * frequency.QuadPart;
              return TRUE;
          }) {}
