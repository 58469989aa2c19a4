#include "console/control_handler.h"

#include "base/scoped_handles.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/keys.h"
#include "console/status_line.h"
#include "console/stop_deadline.h"
#include "platform/win_api.h"

std::atomic<int32_t> InterruptFlag{0};
std::atomic<int32_t> AbortFlag{0};
std::atomic<int32_t> PromptCancelFlag{0};
std::atomic<int32_t> PromptActiveFlag{0};
std::atomic<int32_t> LastControlEvent{0};
uint32_t MainThreadId = 0;

namespace {

std::atomic<bool> listingBuffered{false};
std::atomic<const char*> waitingMessage{nullptr};

}  // namespace

bool StopRequested() {
    return InterruptFlag.load(std::memory_order_relaxed) != 0 || AbortFlag.load(std::memory_order_relaxed) != 0;
}

void ResetStopFlags() {
    InterruptFlag.store(0);
    AbortFlag.store(0);
    PromptCancelFlag.store(0);
    PromptActiveFlag.store(0);
    LastControlEvent.store(0);
    listingBuffered.store(false);
    waitingMessage.store(nullptr);
    ResetStopDeadline();
}

bool PromptShouldEnd() {
    return InterruptFlag.load(std::memory_order_relaxed) != 0 || PromptCancelFlag.load(std::memory_order_relaxed) != 0;
}

namespace {

void PrintStopMessage(const char* message) {
    EnsureFreshLine();
    PrintOut("%s", message);
}

constexpr auto kRelaxed = std::memory_order_relaxed;

// What the user is told for each event; null for events that stop the run silently.
const char* StopMessage(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT: return "Ctrl+C pressed -> abort\n";
        case CTRL_BREAK_EVENT: return "Ctrl+Break pressed -> abort\n";
        case CTRL_CLOSE_EVENT: return "Close Button pressed -> abort\n";
        case CTRL_LOGOFF_EVENT: return "User LogOff -> abort\n";
        case CTRL_SHUTDOWN_EVENT: return "System Shutdown -> abort\n";
        default: return nullptr;
    }
}

// Holds the main thread still while the handler prints, so that its message lands on a line of
// its own. Null when the main thread cannot be opened or is the calling thread.
HANDLE SuspendMainThread() {
    if (win.GetCurrentThreadId() == MainThreadId) return nullptr;
    ScopedHandle thread(win.OpenThread(THREAD_SUSPEND_RESUME, FALSE, MainThreadId));
    if (!thread) return nullptr;
    win.FlushFileBuffers(win.GetStdHandle(STD_OUTPUT_HANDLE));
    if (win.SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return nullptr;
    AbortFlag.store(AbortFlag.load(kRelaxed) + 1, kRelaxed);
    return thread.release();
}

}  // namespace

// The main thread is stopped at an arbitrary point, possibly inside the heap, the C runtime or a
// lock of a system DLL. From the suspension to the resumption this handler therefore touches
// nothing that such a thread may hold: no heap (the row test of EnsureFreshLine reads characters
// into a stack buffer, and the formatting and writing of PrintOut use the stack and WriteFile),
// no C runtime call that locks, and no lock but ConsoleLock, which only this handler takes. The
// key-up injection goes through user32, whose locks are unknown, so it happens before the
// suspension.
BOOL WINAPI ConsoleControlHandler(DWORD event) {
    win.EnterCriticalSection(&ConsoleLock);
    if (InterruptFlag.load(kRelaxed)) {
        win.LeaveCriticalSection(&ConsoleLock);
        return TRUE;
    }
    // A C still held from Ctrl+C would otherwise answer or end the next prompt.
    ReleaseKeys(L"C");
    HANDLE mainThread = SuspendMainThread();

    const char* message = StopMessage(event);
    if (event == CTRL_C_EVENT && (AbortFlag.load(kRelaxed) > 1 || PromptActiveFlag.load(kRelaxed))) {
        // A repeated Ctrl+C, or one at a prompt, only ends the prompt with its default.
        PromptCancelFlag.store(1, kRelaxed);
        message = nullptr;
    } else if (event != CTRL_C_EVENT) {
        InterruptFlag.store(1, kRelaxed);
    }
    if (message && listingBuffered.load()) {
        waitingMessage.store(message);
    } else if (message) {
        PrintStopMessage(message);
    }
    AbortFlag.store(1, kRelaxed);
    LastControlEvent.store(static_cast<int32_t>(event), kRelaxed);

    win.LeaveCriticalSection(&ConsoleLock);
    if (mainThread) {
        win.ResumeThread(mainThread);
        win.CloseHandle(mainThread);
    }
    return TRUE;
}

void NoteListingBuffered(bool buffered) {
    listingBuffered.store(buffered);
    if (buffered) return;
    // On the main thread, after the listing's write: the handler cannot print meanwhile, as it
    // takes the lock before it suspends this thread.
    if (!waitingMessage.load()) return;
    win.EnterCriticalSection(&ConsoleLock);
    const char* message = waitingMessage.exchange(nullptr);
    if (message) PrintStopMessage(message);
    win.LeaveCriticalSection(&ConsoleLock);
}
