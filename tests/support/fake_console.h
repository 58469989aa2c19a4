// A console for unit tests, behind the seam: a screen buffer of cells with a cursor, scripted
// input records and control events on a virtual clock, and the window and key-state answers of
// user32, as a test sets them. Sleep and waits on the input handle advance the clock instead of
// taking time.
//
// Everything lives in static storage and no call takes a lock, because the control handler runs
// on it while another thread is suspended inside the heap.
#pragma once

#include <cstdint>
#include <string>

#include "console/console_session.h"
#include "platform/windows.h"
#include "support/seam.h"

namespace fake_console {

constexpr int kMaxWidth = 300;
constexpr int kMaxHeight = 40;

const HANDLE kInput = reinterpret_cast<HANDLE>(0x7101);
const HANDLE kOutput = reinterpret_cast<HANDLE>(0x7102);
const HANDLE kError = reinterpret_cast<HANDLE>(0x7103);

// One WriteConsoleOutputW call, after clipping to the buffer.
struct CellWrite {
    SMALL_RECT region;
    wchar_t text[kMaxWidth + 1];  // the first row of the region
};

struct InjectedKey {
    BYTE key;
    BYTE scan;
    DWORD flags;
};

// Puts the fake into the seam: a width x height screen of blanks (attributes 0x07) with the cursor
// at the top left, console input without records, a console window that is not in the foreground
// and belongs to another process, no key held, the clock at 0.
void Install(int width = 80, int height = 25);

// --- Screen
void SetOutputRedirected(bool redirected);  // every screen call fails, as for a file
void SetLargestWindow(int columns);         // the widest window the screen allows
void PutText(int column, int row, const char* text, WORD attributes = 0x07);
void SetCursor(int column, int row);
COORD Cursor();
std::wstring RowText(int row);  // the whole row, trailing blanks included
std::wstring TrimmedRow(int row);
WORD CellAttributes(int column, int row);
int BufferWidth();
int WindowWidth();
int CellWriteCount();
const CellWrite& CellWriteAt(int index);
// Forgets the cell writes, reads and output recorded so far.
void ForgetRecords();
// Runs on every write to standard output, on the writing thread.
void SetOutputHook(void (*hook)());

std::string Output();  // every byte written to standard output

// --- Input. Records become readable at their time, in the order given. Like Wine's console, none
// is readable before the input handle was first waited on or read.
void SetInputIsConsole(bool console);
// Whether the input was already waited on or read (opening the session does that).
void SetInputStarted(bool started);
void ScriptKey(uint32_t atMs, WORD key, bool down, DWORD controlState = 0);
void ScriptPress(uint32_t atMs, WORD key, DWORD controlState = 0);  // down, then up 1 ms later
// Runs ConsoleControlHandler(event) on the thread whose Sleep or wait passes that time.
void ScriptControlEvent(uint32_t atMs, DWORD event);

// --- Windows and key state
void SetConsoleWindow(bool exists, bool foreground, DWORD ownerProcess);
void HoldKey(WORD key, uint32_t fromMs, uint32_t untilMs);
int InjectedKeyCount();
InjectedKey InjectedKeyAt(int index);

// --- Time and power
uint32_t Now();
int SleepCount();
uint32_t SleepAt(int index);  // the duration of one Sleep call
// True when the code under test ran the clock past ten minutes, spun without letting time pass,
// or blocked on input that will never come; the fake then sets InterruptFlag to end the wait.
bool DeadlineHit();
int ExecutionStateCount();
EXECUTION_STATE LastExecutionState();

}  // namespace fake_console

// A test on the fake console in an open console session, with the run-wide flags at zero and the
// calling thread as the main thread.
class FakeConsoleTest : public SeamTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts again on a fresh fake of the given size, for one row of a table.
    void Restart(int width = 80, int height = 25);

    ConsoleSession session{};
};
