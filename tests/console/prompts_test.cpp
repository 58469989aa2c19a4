// Prompts, the key state and the wait before close, on scripted input records.
#include <string>

#include <gtest/gtest.h>

#include "console/control_handler.h"
#include "console/keys.h"
#include "console/prompts.h"
#include "support/fake_console.h"

namespace fc = fake_console;

namespace {

struct PromptCase {
    const char* name;
    const wchar_t* allowed;
    wchar_t defaultKey;
    void (*script)();
    uint16_t answer;
    const char* echo;
};

class Prompt : public FakeConsoleTest, public ::testing::WithParamInterface<PromptCase> {};

void Check(const PromptCase& c) {
    c.script();
    EXPECT_EQ(WaitForKey(c.allowed, c.defaultKey), c.answer);
    EXPECT_EQ(fc::Output(), c.echo);
    EXPECT_EQ(PromptActiveFlag.load(), 0);
    EXPECT_FALSE(fc::DeadlineHit());
}

TEST_P(Prompt, AnswersWithTheKeyPressedWhileItWaits) { Check(GetParam()); }

// Like Wine's console: no key reaches the input buffer until someone waits on the input, so a
// prompt that only polled the number of records would never see one.
TEST_P(Prompt, AnswersAlsoWhenItIsTheFirstToWaitOnTheInput) {
    fc::SetInputStarted(false);
    Check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Prompt,
    ::testing::Values(
        PromptCase{"YesNoY", L"YN", L'N', [] { fc::ScriptPress(100, 'Y'); }, 'Y', " Y"},
        PromptCase{"YesNoN", L"YN", L'Y', [] { fc::ScriptPress(100, 'N'); }, 'N', " N"},
        PromptCase{"EscGivesTheDefaultY", L"YN", L'Y', [] { fc::ScriptPress(100, VK_ESCAPE); }, 'Y', " Esc -> Y"},
        PromptCase{"LeftAltYIsIgnored", L"YN", L'N',
                   [] {
                       fc::ScriptPress(100, 'Y', LEFT_ALT_PRESSED);
                       fc::ScriptPress(200, 'N');
                   },
                   'N', " N"},
        PromptCase{"OtherKeysAreIgnored", L"YN", L'Y',
                   [] {
                       fc::ScriptPress(100, 'X');
                       fc::ScriptPress(150, VK_RETURN);
                       fc::ScriptPress(200, 'N');
                   },
                   'N', " N"},
        PromptCase{"AReleaseWithoutItsPressIsNoAnswer", L"YN", L'N',
                   [] {
                       fc::ScriptKey(100, 'Y', false);
                       fc::ScriptPress(200, 'N');
                   },
                   'N', " N"},
        PromptCase{"OnlyTheLastKeyDownCounts", L"YN", L'Y',
                   [] {
                       fc::ScriptKey(100, 'Y', true);
                       fc::ScriptKey(110, 'N', true);
                       fc::ScriptKey(120, 'Y', false);
                       fc::ScriptKey(130, 'N', false);
                   },
                   'N', " N"},
        PromptCase{"ArrivingLongAfterTheQuestion", L"YN", L'Y', [] { fc::ScriptPress(250000, 'N'); }, 'N', " N"},
        PromptCase{"PauseTakesAnyKey", L"", L'N', [] { fc::ScriptPress(100, 'A'); }, 'A', " A"},
        PromptCase{"PauseEscGivesTheDefault", L"", L'N', [] { fc::ScriptPress(100, VK_ESCAPE); }, 'N',
                   " Esc -> N"}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, KeysTypedBeforeTheQuestionDoNotAnswerIt) {
    fc::ScriptPress(0, 'Y');
    win.Sleep(5);
    fc::ScriptPress(100, 'N');
    EXPECT_EQ(WaitForKey(L"YN", L'Y'), 'N');
    EXPECT_EQ(fc::Output(), " N");
}

// A key held when the question comes (with its auto-repeat) is waited out before the input is
// flushed, so its release is not taken for an answer.
TEST_F(FakeConsoleTest, AKeyHeldWhenThePromptStartsIsWaitedOut) {
    fc::SetConsoleWindow(true, true, 0);
    fc::HoldKey('A', 0, 80);
    fc::ScriptKey(0, 'A', true);
    fc::ScriptKey(40, 'A', true);
    fc::ScriptKey(80, 'A', false);
    fc::ScriptPress(200, 'B');
    EXPECT_EQ(WaitForKey(L"", L'N'), 'B');
    EXPECT_EQ(fc::Output(), " B");
}

struct StopCase {
    const char* name;
    void (*setup)();
    const char* output;
    uint32_t endsBefore;  // virtual ms
};

class PromptStop : public FakeConsoleTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(PromptStop, EndsWithTheDefaultWithoutEcho) {
    const StopCase& c = GetParam();
    c.setup();
    EXPECT_EQ(WaitForKey(L"YN", L'Y'), 'Y');
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_EQ(PromptActiveFlag.load(), 0);
    EXPECT_FALSE(fc::DeadlineHit());
    EXPECT_LT(fc::Now(), c.endsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PromptStop,
    ::testing::Values(
        StopCase{"CtrlCWhileWaiting", [] { fc::ScriptControlEvent(300, CTRL_C_EVENT); }, "", 340},
        StopCase{"CtrlBreakWhileWaiting", [] { fc::ScriptControlEvent(300, CTRL_BREAK_EVENT); },
                 "Ctrl+Break pressed -> abort\r\n", 340},
        StopCase{"CtrlCWhileAHeldKeyIsWaitedOut",
                 [] {
                     fc::SetConsoleWindow(true, true, 0);
                     fc::HoldKey('A', 0, 100000);
                     fc::ScriptControlEvent(300, CTRL_C_EVENT);
                 },
                 "", 340},
        StopCase{"CtrlCWithInputThatIsNoConsole",
                 [] {
                     fc::SetInputIsConsole(false);
                     fc::ScriptControlEvent(300, CTRL_C_EVENT);
                 },
                 "", 340}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, InputThatIsNoConsoleIsPolledEvery30Ms) {
    fc::SetInputIsConsole(false);
    fc::ScriptControlEvent(3000, CTRL_C_EVENT);
    EXPECT_EQ(WaitForKey(L"YN", L'N'), 'N');
    ASSERT_GT(fc::SleepCount(), 90);
    for (int i = 0; i < fc::SleepCount(); ++i) ASSERT_EQ(fc::SleepAt(i), 30u) << "sleep " << i;
}

struct ReleaseCase {
    const char* name;
    WORD key;
    uint32_t until;
    int result;
    uint32_t now;
};

class KeysReleased : public FakeConsoleTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(KeysReleased, WaitsForTheWatchedKeysWithinTheLimit) {
    const ReleaseCase& c = GetParam();
    if (c.key) fc::HoldKey(c.key, 0, c.until);
    EXPECT_EQ(WaitKeysReleased(100), c.result);
    EXPECT_EQ(fc::Now(), c.now);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeysReleased,
                         ::testing::Values(ReleaseCase{"NothingHeld", 0, 0, 1, 0},
                                           ReleaseCase{"CtrlReleasedAt50", VK_CONTROL, 50, 1, 50},
                                           ReleaseCase{"YHeldPastTheLimit", 'Y', 100000, 0, 100},
                                           ReleaseCase{"AnUnwatchedKeyIsNotWaitedFor", 'A', 100000, 1, 0}),
                         [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

struct KeyDownCase {
    const char* name;
    bool window, foreground;
    uint32_t heldUntil;  // 'A' from 0; 0: pressed and released before
    bool down;
};

class KeyDown : public FakeConsoleTest, public ::testing::WithParamInterface<KeyDownCase> {};

TEST_P(KeyDown, CountsOnlyAKeyDownNowInTheForeground) {
    const KeyDownCase& c = GetParam();
    fc::SetConsoleWindow(c.window, c.foreground, 0);
    fc::HoldKey('A', 0, c.heldUntil);
    EXPECT_EQ(AnyKeyDown(), c.down);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyDown,
                         ::testing::Values(KeyDownCase{"HeldInTheForeground", true, true, 1000, true},
                                           KeyDownCase{"HeldInTheBackground", true, false, 1000, false},
                                           KeyDownCase{"PressedEarlierButUpNow", true, true, 0, false},
                                           KeyDownCase{"NoConsoleWindow", false, true, 1000, false}),
                         [](const ::testing::TestParamInfo<KeyDownCase>& info) { return std::string(info.param.name); });

TEST_F(FakeConsoleTest, StandaloneWhenTheConsoleWindowIsOurs) {
    fc::SetConsoleWindow(true, false, ::GetCurrentProcessId());
    EXPECT_TRUE(IsStandalone());
    fc::SetConsoleWindow(true, false, ::GetCurrentProcessId() + 4);
    EXPECT_FALSE(IsStandalone());
    fc::SetConsoleWindow(false, false, ::GetCurrentProcessId());
    EXPECT_FALSE(IsStandalone());
}

struct CloseCase {
    const char* name;
    bool noWait;
    bool standalone;
    void (*script)();
    const char* output;
    int executionStateCalls;
    uint32_t closedAfter;  // virtual ms
};

class CloseWait : public FakeConsoleTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseWait, WaitsForANonModifierKeyOnlyWhenStandalone) {
    const CloseCase& c = GetParam();
    fc::SetConsoleWindow(true, false, c.standalone ? ::GetCurrentProcessId() : 1);
    c.script();
    WaitBeforeClose(&session, c.noWait);
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_EQ(fc::ExecutionStateCount(), c.executionStateCalls);
    if (c.executionStateCalls) {
        EXPECT_EQ(fc::LastExecutionState(), ES_CONTINUOUS);
    }
    EXPECT_GE(fc::Now(), c.closedAfter);
    EXPECT_LT(fc::Now(), c.closedAfter + 400);
    EXPECT_FALSE(fc::DeadlineHit());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CloseWait,
    ::testing::Values(
        CloseCase{"NoWaitDoesNothing", true, true, [] { fc::ScriptPress(1000, 'A'); }, "", 0, 0},
        CloseCase{"FromACommandPromptNoPrompt", false, false, [] { fc::ScriptPress(1000, 'A'); }, "", 1, 100},
        CloseCase{"ModifiersDoNotCloseALetterDoes", false, true,
                  [] {
                      fc::ScriptPress(1000, VK_SHIFT);
                      fc::ScriptPress(1100, VK_CONTROL);
                      fc::ScriptPress(1200, VK_CAPITAL);
                      fc::ScriptPress(2000, 'A');
                  },
                  "Press any key to close", 1, 2000},
        CloseCase{"AKeyUpDoesNotClose", false, true,
                  [] {
                      fc::ScriptKey(1000, 'B', false);
                      fc::ScriptPress(2000, 'A');
                  },
                  "Press any key to close", 1, 2000},
        CloseCase{"KeysTypedDuringTheRunAreFlushed", false, true,
                  [] {
                      fc::ScriptPress(100, 'B');
                      fc::ScriptPress(2000, 'A');
                  },
                  "Press any key to close", 1, 2000},
        CloseCase{"UnreadableInputEndsTheWait", false, true, [] { fc::SetInputIsConsole(false); },
                  "Press any key to close", 1, 400}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

struct PauseCase {
    const char* name;
    bool foreground;
    bool pausePressed;
    const char* output;
};

class Pause : public FakeConsoleTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(Pause, PausesUntilAnyKeyWhenPauseWasPressedInTheForeground) {
    const PauseCase& c = GetParam();
    fc::SetConsoleWindow(true, c.foreground, 0);
    if (c.pausePressed) fc::HoldKey(VK_PAUSE, 0, 5);
    win.Sleep(10);
    fc::ScriptPress(100, 'A');
    EXPECT_EQ(CheckPauseKey(), c.pausePressed && c.foreground);
    EXPECT_EQ(fc::Output(), c.output);
    EXPECT_FALSE(CheckPauseKey());
}

INSTANTIATE_TEST_SUITE_P(Keys, Pause,
                         ::testing::Values(PauseCase{"Pressed", true, true, "=== pause === A\r              \r"},
                                           PauseCase{"PressedInTheBackground", false, true, ""},
                                           PauseCase{"NotPressed", true, false, ""}),
                         [](const ::testing::TestParamInfo<PauseCase>& info) { return std::string(info.param.name); });

}  // namespace
