#include "support/fake_console.h"

#include <cstring>

#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"

namespace fake_console {
namespace {

constexpr int kMaxWrites = 4096;
constexpr int kMaxOutput = 1 << 22;
constexpr int kMaxRecords = 256;
constexpr int kMaxEvents = 16;
constexpr int kMaxHolds = 16;
constexpr int kMaxInjected = 64;
constexpr int kMaxSleeps = 1024;
constexpr uint32_t kDeadlineMs = 600000;
constexpr int kSpinLimit = 100000;

const HWND kWindow = reinterpret_cast<HWND>(0x7201);
const HWND kDesktop = reinterpret_cast<HWND>(0x7202);

struct TimedRecord {
    uint32_t at;
    INPUT_RECORD record;
};
struct TimedEvent {
    uint32_t at;
    DWORD event;
    bool fired;
};
struct Hold {
    WORD key;
    uint32_t from, until;
    bool reported;
};
struct Text {
    char bytes[kMaxOutput];
    int length;
    void Add(const void* data, DWORD count) {
        DWORD room = static_cast<DWORD>(kMaxOutput - length);
        if (count > room) count = room;
        memcpy(bytes + length, data, count);
        length += static_cast<int>(count);
    }
};

struct State {
    // Screen
    int width, height, windowWidth, largestWindow;
    CHAR_INFO cells[kMaxHeight][kMaxWidth];
    int cursorX, cursorY;
    WORD attributes;
    bool outputRedirected;
    CellWrite writes[kMaxWrites];
    int writeCount;
    void (*outputHook)();
    Text out;
    // Input
    bool inputConsole, inputStarted;
    TimedRecord records[kMaxRecords];
    int recordCount, nextRecord;
    TimedEvent events[kMaxEvents];
    int eventCount;
    // Windows and keys
    bool windowExists, foreground;
    DWORD owner;
    Hold holds[kMaxHolds];
    int holdCount;
    InjectedKey injected[kMaxInjected];
    int injectedCount;
    // Time
    uint32_t now;
    uint32_t sleeps[kMaxSleeps];
    int sleepCount;
    int idleCalls;
    bool deadlineHit;
    EXECUTION_STATE executionState;
    int executionStateCount;
};

State state;

void HitDeadline() {
    state.deadlineHit = true;
    InterruptFlag.store(1);
}

// Calls that let no time pass; a prompt that only makes these is spinning.
void CountIdleCall() {
    if (++state.idleCalls > kSpinLimit) HitDeadline();
}

void AdvanceTo(uint32_t time) {
    state.idleCalls = 0;
    // Code that ignores even InterruptFlag would keep the test running until its time-out.
    if (time > 2 * kDeadlineMs) {
        static const char kMessage[] = "fake console: the code under test does not stop waiting\n";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof(kMessage) - 1, &written, nullptr);
        ::ExitProcess(3);
    }
    for (;;) {
        TimedEvent* next = nullptr;
        for (int i = 0; i < state.eventCount; ++i) {
            TimedEvent& e = state.events[i];
            if (!e.fired && e.at <= time && (!next || e.at < next->at)) next = &e;
        }
        if (!next) break;
        next->fired = true;
        if (next->at > state.now) state.now = next->at;
        ConsoleControlHandler(next->event);
    }
    if (time > state.now) state.now = time;
    if (state.now > kDeadlineMs) HitDeadline();
}

int Visible() {
    if (!state.inputStarted) return 0;
    int count = 0;
    for (int i = state.nextRecord; i < state.recordCount && state.records[i].at <= state.now; ++i) ++count;
    return count;
}

bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
}

bool IsScreen(HANDLE handle) { return handle == kOutput && !state.outputRedirected; }

void Scroll() {
    memmove(&state.cells[0], &state.cells[1], sizeof(state.cells[0]) * (state.height - 1));
    for (int x = 0; x < kMaxWidth; ++x) state.cells[state.height - 1][x] = CHAR_INFO{{L' '}, state.attributes};
}

void NewLine() {
    state.cursorX = 0;
    if (state.cursorY + 1 < state.height) {
        ++state.cursorY;
    } else {
        Scroll();
    }
}

// Text written to the console moves the cursor as a console with processed output does.
void ShowChar(wchar_t c) {
    if (c == L'\r') {
        state.cursorX = 0;
    } else if (c == L'\n') {
        NewLine();
    } else if (c == L'\b') {
        if (state.cursorX > 0) --state.cursorX;
    } else {
        state.cells[state.cursorY][state.cursorX] = CHAR_INFO{{c}, state.attributes};
        if (++state.cursorX == state.width) NewLine();
    }
}

void Show(const char* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i) ShowChar(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
}

void WriteOut(const char* bytes, DWORD count) {
    state.out.Add(bytes, count);
    if (!state.outputRedirected) Show(bytes, count);
    if (state.outputHook) state.outputHook();
}

// Clips `region` to the buffer and to the caller's buffer of `size` from `coord`; false if empty.
bool Clip(SMALL_RECT* region, COORD size, COORD coord) {
    SHORT left = region->Left < 0 ? 0 : region->Left;
    SHORT top = region->Top < 0 ? 0 : region->Top;
    SHORT right = region->Right;
    SHORT bottom = region->Bottom;
    if (right >= state.width) right = static_cast<SHORT>(state.width - 1);
    if (bottom >= state.height) bottom = static_cast<SHORT>(state.height - 1);
    if (right - left + 1 > size.X - coord.X) right = static_cast<SHORT>(left + size.X - coord.X - 1);
    if (bottom - top + 1 > size.Y - coord.Y) bottom = static_cast<SHORT>(top + size.Y - coord.Y - 1);
    *region = SMALL_RECT{left, top, right, bottom};
    return left <= right && top <= bottom;
}

// --- The seam entries

HANDLE WINAPI FakeGetStdHandle(DWORD which) {
    switch (which) {
        case STD_INPUT_HANDLE: return kInput;
        case STD_OUTPUT_HANDLE: return kOutput;
        case STD_ERROR_HANDLE: return kError;
        default: return INVALID_HANDLE_VALUE;
    }
}

DWORD WINAPI FakeGetFileType(HANDLE handle) {
    if (handle == kOutput) return state.outputRedirected ? FILE_TYPE_DISK : FILE_TYPE_CHAR;
    if (handle == kInput) return state.inputConsole ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
    if (handle == kError) return FILE_TYPE_CHAR;
    // Files and devices the run opens are what they are.
    return SeamBase().GetFileType(handle);
}

// The output has the mode of a console unless redirected; the input mode is what opening the
// session sets when the input is a console.
BOOL WINAPI FakeGetConsoleMode(HANDLE handle, LPDWORD mode) {
    if (handle == kOutput && !state.outputRedirected) {
        *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
        return TRUE;
    }
    if (handle != kInput || !state.inputConsole) return Fail(ERROR_INVALID_HANDLE);
    *mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    return TRUE;
}

BOOL WINAPI FakeSetConsoleMode(HANDLE handle, DWORD) {
    return handle == kInput && state.inputConsole ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) {
    if (handle != kOutput) return Fail(ERROR_INVALID_HANDLE);
    WriteOut(static_cast<const char*>(data), count);
    if (written) *written = count;
    return TRUE;
}

// Wide console text shows on the screen only; Output() holds the bytes of WriteFile.
BOOL WINAPI FakeWriteConsoleW(HANDLE handle, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    for (DWORD i = 0; i < count; ++i) ShowChar(static_cast<const wchar_t*>(text)[i]);
    if (written) *written = count;
    if (state.outputHook) state.outputHook();
    return TRUE;
}

BOOL WINAPI FakeGetConsoleScreenBufferInfo(HANDLE handle, PCONSOLE_SCREEN_BUFFER_INFO info) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    info->dwSize = COORD{static_cast<SHORT>(state.width), static_cast<SHORT>(state.height)};
    info->dwCursorPosition = COORD{static_cast<SHORT>(state.cursorX), static_cast<SHORT>(state.cursorY)};
    info->wAttributes = state.attributes;
    info->srWindow = SMALL_RECT{0, 0, static_cast<SHORT>(state.windowWidth - 1), static_cast<SHORT>(state.height - 1)};
    int largest = state.largestWindow < state.width ? state.largestWindow : state.width;
    info->dwMaximumWindowSize = COORD{static_cast<SHORT>(largest), static_cast<SHORT>(state.height)};
    return TRUE;
}

BOOL WINAPI FakeReadConsoleOutputW(HANDLE handle, PCHAR_INFO buffer, COORD size, COORD coord, PSMALL_RECT region) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    // Wine's ReadConsoleOutputW takes a block from the process heap; so does this one, so that a
    // test sees code that calls it where the heap may be locked.
    ::HeapFree(::GetProcessHeap(), 0, ::HeapAlloc(::GetProcessHeap(), 0, 64));
    if (!Clip(region, size, coord)) {
        region->Right = static_cast<SHORT>(region->Left - 1);
        return TRUE;
    }
    for (int y = region->Top; y <= region->Bottom; ++y) {
        for (int x = region->Left; x <= region->Right; ++x) {
            buffer[(coord.Y + y - region->Top) * size.X + coord.X + x - region->Left] = state.cells[y][x];
        }
    }
    return TRUE;
}

BOOL WINAPI FakeReadConsoleOutputCharacterW(HANDLE handle, LPWSTR text, DWORD length, COORD coord, LPDWORD read) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    DWORD count = 0;
    for (int y = coord.Y, x = coord.X; count < length && y < state.height; ++count) {
        text[count] = state.cells[y][x].Char.UnicodeChar;
        if (++x == state.width) {
            x = 0;
            ++y;
        }
    }
    *read = count;
    return TRUE;
}

BOOL WINAPI FakeWriteConsoleOutputW(HANDLE handle, const CHAR_INFO* buffer, COORD size, COORD coord,
                                    PSMALL_RECT region) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    if (!Clip(region, size, coord)) return TRUE;
    CellWrite* record = state.writeCount < kMaxWrites ? &state.writes[state.writeCount] : nullptr;
    ++state.writeCount;
    if (record) {
        record->region = *region;
        record->text[0] = 0;
    }
    for (int y = region->Top; y <= region->Bottom; ++y) {
        for (int x = region->Left; x <= region->Right; ++x) {
            const CHAR_INFO& cell = buffer[(coord.Y + y - region->Top) * size.X + coord.X + x - region->Left];
            state.cells[y][x] = cell;
            if (record && y == region->Top) {
                record->text[x - region->Left] = cell.Char.UnicodeChar;
                record->text[x - region->Left + 1] = 0;
            }
        }
    }
    return TRUE;
}

BOOL WINAPI FakeSetConsoleCursorPosition(HANDLE handle, COORD position) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    if (position.X < 0 || position.X >= state.width || position.Y < 0 || position.Y >= state.height) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    state.cursorX = position.X;
    state.cursorY = position.Y;
    return TRUE;
}

BOOL WINAPI FakeSetConsoleScreenBufferSize(HANDLE handle, COORD size) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    if (size.X < state.windowWidth || size.X > kMaxWidth || size.Y < 1 || size.Y > kMaxHeight) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    for (int y = 0; y < kMaxHeight; ++y) {
        for (int x = state.width; x < size.X; ++x) state.cells[y][x] = CHAR_INFO{{L' '}, state.attributes};
    }
    state.width = size.X;
    state.height = size.Y;
    return TRUE;
}

BOOL WINAPI FakeSetConsoleWindowInfo(HANDLE handle, BOOL absolute, const SMALL_RECT* window) {
    if (!IsScreen(handle)) return Fail(ERROR_INVALID_HANDLE);
    int left = window->Left, right = window->Right;
    if (!absolute) right += state.windowWidth - 1;  // the window always starts at column 0 here
    int largest = state.largestWindow < state.width ? state.largestWindow : state.width;
    if (left < 0 || right < left || right - left + 1 > largest) return Fail(ERROR_INVALID_PARAMETER);
    state.windowWidth = right - left + 1;
    return TRUE;
}

BOOL WINAPI FakeGetNumberOfConsoleInputEvents(HANDLE handle, LPDWORD count) {
    CountIdleCall();
    if (handle != kInput || !state.inputConsole) return Fail(ERROR_INVALID_HANDLE);
    *count = static_cast<DWORD>(Visible());
    return TRUE;
}

BOOL WINAPI FakeReadConsoleInputW(HANDLE handle, PINPUT_RECORD buffer, DWORD length, LPDWORD read) {
    if (handle != kInput || !state.inputConsole) return Fail(ERROR_INVALID_HANDLE);
    state.inputStarted = true;
    if (Visible() == 0) {
        // The real call blocks until a record comes; one that never comes ends the test.
        if (state.nextRecord >= state.recordCount) {
            HitDeadline();
            return Fail(ERROR_OPERATION_ABORTED);
        }
        AdvanceTo(state.records[state.nextRecord].at);
    }
    DWORD count = 0;
    while (count < length && Visible() > 0) buffer[count++] = state.records[state.nextRecord++].record;
    *read = count;
    return TRUE;
}

BOOL WINAPI FakeFlushConsoleInputBuffer(HANDLE handle) {
    if (handle != kInput || !state.inputConsole) return Fail(ERROR_INVALID_HANDLE);
    int visible = Visible();
    state.nextRecord += visible;
    return TRUE;
}

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) {
    if (handle != kInput) return SeamBase().WaitForSingleObject(handle, ms);
    // A file handle is always signalled.
    if (!state.inputConsole) {
        CountIdleCall();
        return WAIT_OBJECT_0;
    }
    state.inputStarted = true;
    if (Visible() > 0) {
        CountIdleCall();
        return WAIT_OBJECT_0;
    }
    uint32_t end = ms == INFINITE ? kDeadlineMs + 1 : state.now + ms;
    if (state.nextRecord < state.recordCount && state.records[state.nextRecord].at <= end) {
        AdvanceTo(state.records[state.nextRecord].at);
        return WAIT_OBJECT_0;
    }
    AdvanceTo(end);
    return WAIT_TIMEOUT;
}

VOID WINAPI FakeSleep(DWORD ms) {
    if (state.sleepCount < kMaxSleeps) state.sleeps[state.sleepCount] = ms;
    ++state.sleepCount;
    AdvanceTo(state.now + ms);
}

HWND WINAPI FakeGetConsoleWindow() { return state.windowExists ? kWindow : nullptr; }

HWND WINAPI FakeGetForegroundWindow() { return state.windowExists && state.foreground ? kWindow : kDesktop; }

DWORD WINAPI FakeGetWindowThreadProcessId(HWND window, LPDWORD process) {
    if (window != kWindow || !state.windowExists) return 0;
    if (process) *process = state.owner;
    return 0x4321;
}

bool Held(WORD key) {
    for (int i = 0; i < state.holdCount; ++i) {
        const Hold& h = state.holds[i];
        if (h.key == key && h.from <= state.now && state.now < h.until) return true;
    }
    return false;
}

BOOL WINAPI FakeGetKeyboardState(PBYTE keys) {
    for (int key = 0; key < 256; ++key) keys[key] = Held(static_cast<WORD>(key)) ? 0x80 : 0;
    return TRUE;
}

SHORT WINAPI FakeGetAsyncKeyState(int key) {
    int result = Held(static_cast<WORD>(key)) ? 0x8000 : 0;
    for (int i = 0; i < state.holdCount; ++i) {
        Hold& h = state.holds[i];
        if (h.key == key && h.from <= state.now && !h.reported) {
            h.reported = true;
            result |= 1;
        }
    }
    return static_cast<SHORT>(result);
}

UINT WINAPI FakeMapVirtualKeyW(UINT code, UINT) { return (code & 0x7F) | 0x80; }

VOID WINAPI FakeKeybdEvent(BYTE key, BYTE scan, DWORD flags, ULONG_PTR) {
    if (state.injectedCount < kMaxInjected) state.injected[state.injectedCount++] = InjectedKey{key, scan, flags};
}

EXECUTION_STATE WINAPI FakeSetThreadExecutionState(EXECUTION_STATE flags) {
    EXECUTION_STATE previous = state.executionState;
    state.executionState = flags;
    ++state.executionStateCount;
    return previous;
}

BOOL WINAPI FakeSetConsoleCtrlHandler(PHANDLER_ROUTINE, BOOL) { return TRUE; }

void AddRecord(uint32_t at, const INPUT_RECORD& record) {
    if (state.recordCount == kMaxRecords) return;
    // Records are read in time order whatever order the test gave them in.
    int i = state.recordCount++;
    while (i > state.nextRecord && state.records[i - 1].at > at) {
        state.records[i] = state.records[i - 1];
        --i;
    }
    state.records[i] = TimedRecord{at, record};
}

}  // namespace

void Install(int width, int height) {
    memset(&state, 0, sizeof(state));
    state.width = width;
    state.height = height;
    state.windowWidth = width;
    state.largestWindow = kMaxWidth;
    state.attributes = 0x07;
    for (int y = 0; y < kMaxHeight; ++y) {
        for (int x = 0; x < kMaxWidth; ++x) state.cells[y][x] = CHAR_INFO{{L' '}, state.attributes};
    }
    state.inputConsole = true;
    state.windowExists = true;
    state.owner = ::GetCurrentProcessId() + 4;

    win.GetStdHandle = FakeGetStdHandle;
    win.GetFileType = FakeGetFileType;
    win.GetConsoleMode = FakeGetConsoleMode;
    win.SetConsoleMode = FakeSetConsoleMode;
    win.WriteFile = FakeWriteFile;
    win.WriteConsoleW = FakeWriteConsoleW;
    win.GetConsoleScreenBufferInfo = FakeGetConsoleScreenBufferInfo;
    win.ReadConsoleOutputW = FakeReadConsoleOutputW;
    win.ReadConsoleOutputCharacterW = FakeReadConsoleOutputCharacterW;
    win.WriteConsoleOutputW = FakeWriteConsoleOutputW;
    win.SetConsoleCursorPosition = FakeSetConsoleCursorPosition;
    win.SetConsoleScreenBufferSize = FakeSetConsoleScreenBufferSize;
    win.SetConsoleWindowInfo = FakeSetConsoleWindowInfo;
    win.GetNumberOfConsoleInputEvents = FakeGetNumberOfConsoleInputEvents;
    win.ReadConsoleInputW = FakeReadConsoleInputW;
    win.FlushConsoleInputBuffer = FakeFlushConsoleInputBuffer;
    win.WaitForSingleObject = FakeWaitForSingleObject;
    win.Sleep = FakeSleep;
    win.GetConsoleWindow = FakeGetConsoleWindow;
    win.GetForegroundWindow = FakeGetForegroundWindow;
    win.GetWindowThreadProcessId = FakeGetWindowThreadProcessId;
    win.GetKeyboardState = FakeGetKeyboardState;
    win.GetAsyncKeyState = FakeGetAsyncKeyState;
    win.MapVirtualKeyW = FakeMapVirtualKeyW;
    win.keybd_event = FakeKeybdEvent;
    win.SetThreadExecutionState = FakeSetThreadExecutionState;
    win.SetConsoleCtrlHandler = FakeSetConsoleCtrlHandler;
}

void SetOutputRedirected(bool redirected) { state.outputRedirected = redirected; }
void SetLargestWindow(int columns) { state.largestWindow = columns; }

void PutText(int column, int row, const char* text, WORD attributes) {
    for (int x = column; *text && x < state.width; ++x, ++text) {
        state.cells[row][x] = CHAR_INFO{{static_cast<wchar_t>(static_cast<unsigned char>(*text))}, attributes};
    }
}

void SetCursor(int column, int row) {
    state.cursorX = column;
    state.cursorY = row;
}

COORD Cursor() { return COORD{static_cast<SHORT>(state.cursorX), static_cast<SHORT>(state.cursorY)}; }

std::wstring RowText(int row) {
    std::wstring text;
    for (int x = 0; x < state.width; ++x) text += state.cells[row][x].Char.UnicodeChar;
    return text;
}

std::wstring TrimmedRow(int row) {
    std::wstring text = RowText(row);
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

WORD CellAttributes(int column, int row) { return state.cells[row][column].Attributes; }
int BufferWidth() { return state.width; }
int WindowWidth() { return state.windowWidth; }
int CellWriteCount() { return state.writeCount; }
const CellWrite& CellWriteAt(int index) { return state.writes[index]; }

void ForgetRecords() {
    state.writeCount = 0;
    state.out.length = 0;
}

void SetOutputHook(void (*hook)()) { state.outputHook = hook; }

std::string Output() { return std::string(state.out.bytes, static_cast<size_t>(state.out.length)); }

void SetInputIsConsole(bool console) { state.inputConsole = console; }
void SetInputStarted(bool started) { state.inputStarted = started; }

void ScriptKey(uint32_t atMs, WORD key, bool down, DWORD controlState) {
    INPUT_RECORD record = {};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = key;
    record.Event.KeyEvent.dwControlKeyState = controlState;
    AddRecord(atMs, record);
}

void ScriptPress(uint32_t atMs, WORD key, DWORD controlState) {
    ScriptKey(atMs, key, true, controlState);
    ScriptKey(atMs + 1, key, false, controlState);
}

void ScriptControlEvent(uint32_t atMs, DWORD event) {
    if (state.eventCount < kMaxEvents) state.events[state.eventCount++] = TimedEvent{atMs, event, false};
}

void SetConsoleWindow(bool exists, bool foreground, DWORD ownerProcess) {
    state.windowExists = exists;
    state.foreground = foreground;
    state.owner = ownerProcess;
}

void HoldKey(WORD key, uint32_t fromMs, uint32_t untilMs) {
    if (state.holdCount < kMaxHolds) state.holds[state.holdCount++] = Hold{key, fromMs, untilMs, false};
}

int InjectedKeyCount() { return state.injectedCount; }
InjectedKey InjectedKeyAt(int index) { return state.injected[index]; }

uint32_t Now() { return state.now; }
int SleepCount() { return state.sleepCount; }
uint32_t SleepAt(int index) { return index < kMaxSleeps ? state.sleeps[index] : 0; }
bool DeadlineHit() { return state.deadlineHit; }
int ExecutionStateCount() { return state.executionStateCount; }
EXECUTION_STATE LastExecutionState() { return state.executionState; }

}  // namespace fake_console

namespace {

void ResetRunFlags() {
    InterruptFlag.store(0);
    AbortFlag.store(0);
    PromptCancelFlag.store(0);
    PromptActiveFlag.store(0);
    LastControlEvent.store(0);
}

}  // namespace

void FakeConsoleTest::SetUp() { Restart(); }

void FakeConsoleTest::Restart(int width, int height) {
    if (session.outputHandle) CloseConsoleSession(&session);
    ResetRunFlags();
    MainThreadId = ::GetCurrentThreadId();
    fake_console::Install(width, height);
    ResetPrintCaches();
    session = ConsoleSession{};
    OpenConsoleSession(&session);
}

void FakeConsoleTest::TearDown() {
    if (session.outputHandle) CloseConsoleSession(&session);
    SeamTest::TearDown();
    ResetPrintCaches();
    ResetRunFlags();
}
