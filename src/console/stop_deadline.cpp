#include "console/stop_deadline.h"

#include <atomic>
#include <cstdint>

#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

std::atomic<int32_t> workEnded{0};
std::atomic<int32_t> watching{0};

constexpr DWORD kPollMs = 50;
// About two seconds of polls.
constexpr int kPolls = 40;

}  // namespace

void NoteWorkEnded() { workEnded.store(1); }

void ResetStopDeadline() {
    workEnded.store(0);
    watching.store(0);
}

// The main thread may be held anywhere, inside the heap or a console write included: nothing here
// allocates or takes a lock, and the process ends without running anything of its own.
void AwaitWorkAfterStop() {
    if (watching.exchange(1) != 0) return;
    for (int poll = 0; poll < kPolls; ++poll) {
        if (workEnded.load()) return;
        win.Sleep(kPollMs);
    }
    if (workEnded.load()) return;
    EnsureFreshLine();
    PrintErr("no answer from the system 2 s after the stop -> abort\n");
    win.TerminateProcess(win.GetCurrentProcess(), kStopDeadlineExitCode);
}

BOOL WINAPI StopEventHandler(DWORD event) {
    ConsoleControlHandler(event);
    AwaitWorkAfterStop();
    return TRUE;
}
