// Console control events: messages, flags, the suspended main thread.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/control_handler.h"
#include "console/stop_deadline.h"
#include "support/fake_console.h"

namespace fc = fake_console;

namespace {

void ResumeFully(HANDLE thread) {
    for (DWORD previous = ::ResumeThread(thread); previous != static_cast<DWORD>(-1) && previous > 1;
         previous = ::ResumeThread(thread)) {
    }
}

// A thread that plays the main thread: it parks, spins or works the heap until told to stop.
struct StandIn {
    enum Mode { Park, Count, Heap };
    Mode mode;
    HANDLE thread = nullptr;
    DWORD id = 0;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> counter{0};

    static DWORD WINAPI Main(void* arg) {
        auto* self = static_cast<StandIn*>(arg);
        HANDLE heap = ::GetProcessHeap();
        while (!self->stop.load()) {
            switch (self->mode) {
                case Park: ::Sleep(1); break;
                case Count: self->counter.fetch_add(1); break;
                case Heap: ::HeapFree(heap, 0, ::HeapAlloc(heap, 0, 64 + self->counter.fetch_add(1) % 512)); break;
            }
        }
        return 0;
    }
    explicit StandIn(Mode m) : mode(m) {
        thread = ::CreateThread(nullptr, 0, Main, this, 0, &id);
        MainThreadId = id;
    }
    ~StandIn() {
        stop.store(true);
        ResumeFully(thread);
        ::WaitForSingleObject(thread, 10000);
        ::CloseHandle(thread);
    }
    bool Suspended() {
        DWORD previous = ::SuspendThread(thread);
        ::ResumeThread(thread);
        return previous > 0;
    }
};

class ControlHandler : public FakeConsoleTest {
protected:
    void SetUp() override {
        FakeConsoleTest::SetUp();
        MainThreadId = main.id;
    }
    StandIn main{StandIn::Park};
};

struct EventCase {
    const char* name;
    DWORD event;
    const char* output;
    int32_t interrupt;
};

class ControlEvent : public ControlHandler, public ::testing::WithParamInterface<EventCase> {};

TEST_P(ControlEvent, PrintsItsMessageAndSetsTheFlags) {
    const EventCase& c = GetParam();
    EXPECT_TRUE(ConsoleControlHandler(c.event));
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_EQ(InterruptFlag.load(), c.interrupt);
    EXPECT_EQ(AbortFlag.load(), 1);
    EXPECT_EQ(PromptCancelFlag.load(), 0);
    EXPECT_EQ(LastControlEvent.load(), static_cast<int32_t>(c.event));
    EXPECT_FALSE(main.Suspended());
    // The C of Ctrl+C is released so that it answers no prompt.
    ASSERT_EQ(fc::InjectedKeyCount(), 1);
    EXPECT_EQ(fc::InjectedKeyAt(0).key, 'C');
    EXPECT_EQ(fc::InjectedKeyAt(0).flags, static_cast<DWORD>(KEYEVENTF_KEYUP));
}

// The stop message waits for listing lines that were found before it and are still buffered.
TEST_F(ControlHandler, TheMessageWaitsForBufferedListingLines) {
    NoteListingBuffered(true);
    EXPECT_TRUE(ConsoleControlHandler(CTRL_C_EVENT));
    EXPECT_EQ(fc::Output(), "");
    EXPECT_EQ(AbortFlag.load(), 1);
    NoteListingBuffered(false);  // the listing wrote its lines
    EXPECT_EQ(fc::Output(), "Ctrl+C pressed -> abort\r\n");
    NoteListingBuffered(false);
    EXPECT_EQ(fc::Output(), "Ctrl+C pressed -> abort\r\n");  // once
}

INSTANTIATE_TEST_SUITE_P(
    Events, ControlEvent,
    ::testing::Values(EventCase{"CtrlC", CTRL_C_EVENT, "Ctrl+C pressed -> abort\r\n", 0},
                      EventCase{"CtrlBreak", CTRL_BREAK_EVENT, "Ctrl+Break pressed -> abort\r\n", 1},
                      EventCase{"Close", CTRL_CLOSE_EVENT, "Close Button pressed -> abort\r\n", 1},
                      EventCase{"LogOff", CTRL_LOGOFF_EVENT, "User LogOff -> abort\r\n", 1},
                      EventCase{"Shutdown", CTRL_SHUTDOWN_EVENT, "System Shutdown -> abort\r\n", 1},
                      EventCase{"UnknownType3", 3, "", 1}, EventCase{"UnknownType9", 9, "", 1}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

struct SequenceCase {
    const char* name;
    std::vector<DWORD> events;
    bool promptWaiting;
    const char* output;
    int32_t interrupt;
    int32_t promptCancel;
    int32_t lastEvent;
};

class ControlSequence : public ControlHandler, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ControlSequence, LaterEventsFollowTheTable) {
    const SequenceCase& c = GetParam();
    PromptActiveFlag.store(c.promptWaiting ? 1 : 0);
    for (DWORD event : c.events) EXPECT_TRUE(ConsoleControlHandler(event));
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_EQ(InterruptFlag.load(), c.interrupt);
    EXPECT_EQ(PromptCancelFlag.load(), c.promptCancel);
    EXPECT_EQ(AbortFlag.load(), 1);
    EXPECT_EQ(LastControlEvent.load(), c.lastEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Events, ControlSequence,
    ::testing::Values(
        SequenceCase{
            "CtrlCTwiceSpeaksOnce", {CTRL_C_EVENT, CTRL_C_EVENT}, false, "Ctrl+C pressed -> abort\r\n", 0, 1, 0},
        SequenceCase{"CtrlCAtAPromptOnlyCancelsIt", {CTRL_C_EVENT}, true, "", 0, 1, 0},
        SequenceCase{"CtrlBreakThenCtrlCChangesNothing",
                     {CTRL_BREAK_EVENT, CTRL_C_EVENT},
                     false,
                     "Ctrl+Break pressed -> abort\r\n",
                     1,
                     0,
                     CTRL_BREAK_EVENT},
        SequenceCase{"CtrlCThenCtrlBreakStopsHard",
                     {CTRL_C_EVENT, CTRL_BREAK_EVENT},
                     false,
                     "Ctrl+C pressed -> abort\r\nCtrl+Break pressed -> abort\r\n",
                     1,
                     0,
                     CTRL_BREAK_EVENT},
        SequenceCase{"CloseAfterShutdownChangesNothing",
                     {CTRL_SHUTDOWN_EVENT, CTRL_CLOSE_EVENT},
                     false,
                     "System Shutdown -> abort\r\n",
                     1,
                     0,
                     CTRL_SHUTDOWN_EVENT}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

// After the first stop the work has about two seconds to end: what comes after it (a summary, a
// closing prompt) is never cut, and a run held past the deadline ends with exit code 11. A later
// stop waits for nothing.
TEST_F(ControlHandler, AStopGivesTheWorkTwoSecondsToEnd) {
    static uint32_t endsAt;
    static UINT exitCode;
    static decltype(win.Sleep) fakeSleep = win.Sleep;
    SeamOverride sleep(
        win.Sleep, +[](DWORD ms) {
            fakeSleep(ms);
            if (fc::Now() >= endsAt) NoteWorkEnded();
        });
    SeamOverride terminate(
        win.TerminateProcess, +[](HANDLE, UINT code) -> BOOL { return exitCode = code, TRUE; });
    for (uint32_t endsAfterMs : {0u, 1900u, 100000u}) {  // 0: before the stop
        ResetStopFlags();
        exitCode = 0;
        const uint32_t began = fc::Now();
        endsAt = began + endsAfterMs;
        if (endsAfterMs == 0) NoteWorkEnded();
        EXPECT_TRUE(StopEventHandler(CTRL_C_EVENT));
        EXPECT_TRUE(StopEventHandler(CTRL_C_EVENT));
        EXPECT_EQ(fc::Now() - began, endsAfterMs < 2000 ? endsAfterMs : 2000u) << endsAfterMs;
        EXPECT_EQ(exitCode, endsAfterMs < 2000 ? 0u : 11u) << endsAfterMs;
    }
}

TEST_F(ControlHandler, TheMessageGoesOnAFreshLineBelowTheStatusText) {
    fc::PutText(0, 3, " 5 MB of 10 MB compared");
    fc::SetCursor(0, 3);
    ConsoleControlHandler(CTRL_C_EVENT);
    EXPECT_EQ(fc::TrimmedRow(3), L" 5 MB of 10 MB compared");
    EXPECT_EQ(fc::TrimmedRow(4), L"Ctrl+C pressed -> abort");
    EXPECT_EQ(fc::Cursor().Y, 5);
}

// The output hook runs while the handler prints; the stand-in must not move meanwhile.
std::atomic<StandIn*> watched{nullptr};
std::atomic<int> movedWhilePrinting{0};

void CheckHeldStill() {
    StandIn* standIn = watched.load();
    uint64_t before = standIn->counter.load();
    ::Sleep(20);
    if (standIn->counter.load() != before) movedWhilePrinting.fetch_add(1);
}

TEST_F(FakeConsoleTest, TheMainThreadIsHeldWhileTheHandlerPrintsAndRunsAgainAfter) {
    StandIn main(StandIn::Count);
    while (main.counter.load() == 0) ::Sleep(1);
    watched.store(&main);
    movedWhilePrinting.store(0);
    fc::SetOutputHook(CheckHeldStill);

    ConsoleControlHandler(CTRL_BREAK_EVENT);

    EXPECT_EQ(fc::Output(), "Ctrl+Break pressed -> abort\r\n");
    EXPECT_EQ(movedWhilePrinting.load(), 0);
    uint64_t after = main.counter.load();
    for (int i = 0; i < 1000 && main.counter.load() == after; ++i) ::Sleep(1);
    EXPECT_GT(main.counter.load(), after);
}

DWORD WINAPI RunCtrlC(void*) { return ConsoleControlHandler(CTRL_C_EVENT); }

// A main thread suspended inside the heap holds its lock: a handler that allocated would wait for
// it for ever.
TEST_F(FakeConsoleTest, AMainThreadSuspendedInsideTheHeapDoesNotStopTheHandler) {
    StandIn main(StandIn::Heap);
    while (main.counter.load() < 1000) ::Sleep(1);
    for (int round = 0; round < 40; ++round) {
        AbortFlag.store(0);
        // Status text at column 0 makes the handler read the row before its message.
        fc::PutText(0, fc::Cursor().Y, " 5 MB of 10 MB compared");
        fc::SetCursor(0, fc::Cursor().Y);
        uint64_t before = main.counter.load();
        while (main.counter.load() < before + 50) {
        }

        HANDLE handler = ::CreateThread(nullptr, 0, RunCtrlC, nullptr, 0, nullptr);
        DWORD waited = ::WaitForSingleObject(handler, 5000);
        if (waited != WAIT_OBJECT_0) {
            // Let the stand-in leave the heap so that the handler, and this test, can end.
            ResumeFully(main.thread);
            ::WaitForSingleObject(handler, 10000);
        }
        ::CloseHandle(handler);
        ASSERT_EQ(waited, WAIT_OBJECT_0) << "the handler hung in round " << round;
    }
    EXPECT_EQ(LastControlEvent.load(), CTRL_C_EVENT);
}

}  // namespace
