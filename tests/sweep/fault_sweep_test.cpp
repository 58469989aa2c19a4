// Every Windows call of a run fails once, one run per call and error: calls on files, folders and
// devices with an error of each class the program recovers from differently, every other call with
// one plausible error. The program must still behave: the run ends with one of its exit codes, a
// failure that changes the outcome is reported, no file of tree 2 changes but for the links the
// run reproduces, nothing is left open that the run would otherwise have released, no run hangs,
// and above all no verdict is false.
//
// "Files are identical", "All files identical" and exit code 0 promise that every byte of tree 1
// was read on both sides and matched. So a run that ends with 0 after a failure must have read
// every byte of the compared files, from the right places (measured below the injector), must name
// nothing unread, and must have got there honestly: the call cannot touch a verdict (kHarmless);
// or it was made on a compared file and was made again, more often than unfaulted, and succeeded;
// or it touched no compared file, or came before anything was read. Files that differ never end
// identical, and no run shows more identical pairs than its unfaulted run.
//
// The runs: file pairs of a few blocks, differing and identical, read one side after the other or
// both at once from two drives, after a reopen of the unfaulted run's own, on a volume that refuses
// unbuffered reads, and with -i; folder runs with the pairs in flight: a sub-folder, a missing
// file, a differing file and links, and identical trees on one drive and on two; the disk and
// volume listings of a simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "support/fake_console.h"
#include "support/fake_links.h"
#include "support/fault_injector.h"
#include "support/machine_scenario.h"
#include "support/pair_setup.h"
#include "support/temp_folder.h"

namespace fc = fake_console;

namespace {

// Calls whose failure cannot make a verdict false, whatever the program does about it.
struct Harmless {
    const char* entry;
    const char* why;
};
const Harmless kHarmless[] = {
    {"WriteFile", "writes lines to standard output only: a lost line changes no count"},
    {"WriteConsoleW", "writes lines to the console only"},
    {"WriteConsoleA", "writes lines to the console only"},
    {"FlushFileBuffers", "flushes standard output before a stop message"},
    {"GetFileType", "tells a console from a log: prompts wait or take their defaults"},
    {"GetConsoleMode", "tells a console from a log: prompts wait or take their defaults"},
    {"SetConsoleMode", "input and output modes of the console"},
    {"SetConsoleCtrlHandler", "Ctrl+C handling: without it a stop ends the process, with no verdict"},
    {"GetConsoleScreenBufferInfo", "the screen's size and cursor, for the status line"},
    {"SetConsoleCursorPosition", "the cursor of the status line"},
    {"SetConsoleScreenBufferSize", "the width of the console window"},
    {"SetConsoleWindowInfo", "the width of the console window"},
    {"ReadConsoleOutputW", "what the screen shows, for the status line"},
    {"ReadConsoleOutputCharacterW", "what the screen shows, for the status line"},
    {"WriteConsoleOutputW", "the status line"},
    {"GetConsoleWindow", "whether a console window is there to widen or to wait on"},
    {"GetForegroundWindow", "whether keys go to this console"},
    {"GetWindowThreadProcessId", "whether the console window is this process's own"},
    {"GetNumberOfConsoleInputEvents", "keys: only a read error's prompt asks, and no read failed"},
    {"ReadConsoleInputW", "keys: only a read error's prompt asks, and no read failed"},
    {"FlushConsoleInputBuffer", "keys typed ahead of a prompt"},
    {"GetKeyboardState", "the keys held at the closing prompt"},
    {"GetAsyncKeyState", "the keys held at the closing prompt"},
    {"MapVirtualKeyW", "the key released after Ctrl+C"},
    {"Beep", "a sound"},
    {"SetThreadPriority", "how soon the main thread runs, not what it reads"},
    {"SetThreadExecutionState", "keeps the machine awake"},
    {"GetModuleFileNameW", "the program's own path, for the version in the banner"},
    {"CloseHandle", "closes what the work is done with; the leak accounting checks what stays open"},
    {"FindClose", "closes a listing that was read to its end; the leak accounting checks it"},
    {"FindVolumeClose", "closes a volume search that was read to its end"},
    {"SetupDiDestroyDeviceInfoList", "frees a device list that was read to its end"},
    {"HeapFree", "frees memory the work is done with; the leak accounting checks it"},
    {"VirtualFree", "frees a buffer the work is done with; the leak accounting checks it"},
    {"CreateThread", "a reader, worker or listing thread that cannot be made: its work runs on the calling thread"},
    {"CreateEventW", "an event that cannot be made: its thread is not made, and the work runs on the calling thread"},
    {"MultiByteToWideChar", "turns the text of an output line, or a disk's name, into wide characters"},
    {"WideCharToMultiByte", "turns the text of an output line, paths included, into bytes"},
    {"GetFileInformationByHandle", "file identities, which only allow skipping a hard link found identical before"},
};

const char* WhyHarmless(int id) {
    for (const Harmless& row : kHarmless) {
        if (strcmp(row.entry, fault::EntryName(id)) == 0) return row.why;
    }
    return nullptr;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

size_t Verdicts(const std::string& out) {
    return Count(out, "Files are identical") + Count(out, "All files identical");
}

// A sector count "N failed" above 0, or a range named as not read.
bool LeftUnread(const std::string& out) {
    if (out.find("not read in file") != std::string::npos) return true;
    for (size_t at = out.find(" failed"); at != std::string::npos; at = out.find(" failed", at + 1)) {
        size_t digits = at;
        while (digits > 0 && isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
        if (digits < at && std::stoul(out.substr(digits, at - digits)) > 0) return true;
    }
    return false;
}

// The lines of a run that tell its outcome, for the message of a false verdict.
std::string KeyLines(const std::string& out, const std::string& err) {
    static const char* const kWords[] = {"identical", "differ",  "rror",      "annot",  "not read", "failed", "abort",
                                         "could not", "missing", "not found", "compar", "sizes",    "File"};
    std::string lines, text = out + "\n" + err;
    std::replace(text.begin(), text.end(), '\r', '\n');
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line.find_first_not_of(' ') == std::string::npos || line.find("Reading sector") != std::string::npos) {
            continue;
        }
        for (const char* word : kWords) {
            if (line.find(word) == std::string::npos) continue;
            lines += "    " + line + "\n";
            break;
        }
    }
    return lines;
}

std::string errText;

BOOL WINAPI CaptureErr(HANDLE, const void* text, DWORD count, LPDWORD written, LPVOID) {
    errText.append(static_cast<const char*>(text), count);
    if (written) *written = count;
    return TRUE;
}

std::atomic<DWORD> clockMs{0};
DWORD WINAPI Clock() { return clockMs += 40; }

// Wine shows its C: and Z: drives as two volumes of one disk. Here the volume of Z: answers the
// device-number query with a disk of its own, so that a pair with one side on each is read as
// from two drives: both sides at once, by the reader threads.
namespace second_disk {

std::wstring zVolume;  // the volume name of Z:, as the program opens it: without the backslash
std::atomic<HANDLE> zHandle{nullptr};
decltype(win.CreateFileW) belowOpen;
decltype(win.DeviceIoControl) belowControl;

HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                   HANDLE from) {
    HANDLE handle = belowOpen(path, access, share, sa, disposition, flags, from);
    if (handle != INVALID_HANDLE_VALUE && path && _wcsicmp(path, zVolume.c_str()) == 0) zHandle = handle;
    return handle;
}

BOOL WINAPI Control(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                    LPOVERLAPPED overlapped) {
    BOOL ok = belowControl(handle, code, in, inSize, out, outSize, returned, overlapped);
    if (ok && code == IOCTL_STORAGE_GET_DEVICE_NUMBER && handle == zHandle.load() &&
        outSize >= sizeof(STORAGE_DEVICE_NUMBER)) {
        static_cast<STORAGE_DEVICE_NUMBER*>(out)->DeviceNumber = 1;
    }
    return ok;
}

void Install() {
    wchar_t name[MAX_PATH] = {};
    if (zVolume.empty() && ::GetVolumeNameForVolumeMountPointW(L"Z:\\", name, MAX_PATH)) {
        zVolume = name;
        if (!zVolume.empty() && zVolume.back() == L'\\') zVolume.pop_back();
    }
    zHandle = nullptr;
    belowOpen = win.CreateFileW;
    belowControl = win.DeviceIoControl;
    win.CreateFileW = Open;
    win.DeviceIoControl = Control;
}

}  // namespace second_disk

// File 2 on a network drive: blocks are read ahead, several at a time, each by a thread of its
// own with a handle of its own.
namespace network_drive {

UINT WINAPI DriveType(LPCWSTR root) { return root && _wcsnicmp(root, L"Z:", 2) == 0 ? DRIVE_REMOTE : DRIVE_FIXED; }

void Install() { win.GetDriveTypeW = DriveType; }

}  // namespace network_drive

// A medium that is gone for a moment: the first read at one offset fails with ERROR_NOT_READY, so
// that the unfaulted run itself reopens the file and goes on where it was, and the sweep fails the
// calls of that recovery too.
namespace medium_gone_once {

uint64_t at = UINT64_MAX;
std::atomic<bool> gone{false};
decltype(win.ReadFile) belowRead;

BOOL WINAPI Read(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED overlapped) {
    LARGE_INTEGER zero = {}, position = {};
    if (!gone.load() && ::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) &&
        static_cast<uint64_t>(position.QuadPart) == at && !gone.exchange(true)) {
        ::SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    return belowRead(handle, buffer, length, got, overlapped);
}

void Install(uint64_t offset) {
    at = offset;
    gone = false;
    belowRead = win.ReadFile;
    win.ReadFile = Read;
}

}  // namespace medium_gone_once

// A volume that refuses unbuffered reads, as some network and virtual ones do: a read on a handle
// opened with FILE_FLAG_NO_BUFFERING fails with ERROR_INVALID_PARAMETER, on both sides.
namespace no_unbuffered_reads {

CRITICAL_SECTION lock;
bool made = false;  // the lock exists
std::set<HANDLE> unbuffered;
decltype(win.CreateFileW) belowOpen;
decltype(win.ReadFile) belowRead;
decltype(win.CloseHandle) belowClose;

HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                   HANDLE from) {
    HANDLE handle = belowOpen(path, access, share, sa, disposition, flags, from);
    if (handle != INVALID_HANDLE_VALUE && (flags & FILE_FLAG_NO_BUFFERING)) {
        EnterCriticalSection(&lock);
        unbuffered.insert(handle);
        LeaveCriticalSection(&lock);
    }
    return handle;
}

BOOL WINAPI Read(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED overlapped) {
    EnterCriticalSection(&lock);
    bool refused = unbuffered.count(handle) != 0;
    LeaveCriticalSection(&lock);
    if (!refused) return belowRead(handle, buffer, length, got, overlapped);
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI Close(HANDLE handle) {
    EnterCriticalSection(&lock);
    unbuffered.erase(handle);
    LeaveCriticalSection(&lock);
    return belowClose(handle);
}

void Install() {
    if (!made) InitializeCriticalSection(&lock);
    made = true;
    unbuffered.clear();
    belowOpen = win.CreateFileW;
    belowRead = win.ReadFile;
    belowClose = win.CloseHandle;
    win.CreateFileW = Open;
    win.ReadFile = Read;
    win.CloseHandle = Close;
}

}  // namespace no_unbuffered_reads

// What the run really read: the byte ranges that successful reads delivered, per file, from where
// each handle stood or the read said. A verdict of "identical" needs every byte of every compared file; a read from
// the wrong place leaves its range unread, whatever the bytes were.
namespace reads {

CRITICAL_SECTION lock;
std::map<HANDLE, std::wstring> files;  // open handles of files, by the path opened
std::map<std::wstring, std::vector<std::pair<uint64_t, uint64_t>>> delivered;
std::atomic<bool> began{false};   // a read was made
std::set<std::wstring> compared;  // the keys of the compared files
decltype(win.CreateFileW) belowOpen;
decltype(win.ReadFile) belowRead;
decltype(win.CloseHandle) belowClose;

std::wstring Key(const std::wstring& path) {
    std::wstring key = path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
    for (wchar_t& c : key) c = towlower(c);
    return key;
}

bool IsCompared(const wchar_t* path) { return path && compared.count(Key(path)) != 0; }

bool IsComparedHandle(HANDLE handle) {
    EnterCriticalSection(&lock);
    auto file = files.find(handle);
    bool is = file != files.end() && compared.count(file->second) != 0;
    LeaveCriticalSection(&lock);
    return is;
}

HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                   HANDLE from) {
    HANDLE handle = belowOpen(path, access, share, sa, disposition, flags, from);
    if (handle != INVALID_HANDLE_VALUE && path) {
        EnterCriticalSection(&lock);
        files[handle] = Key(path);
        LeaveCriticalSection(&lock);
    }
    return handle;
}

BOOL WINAPI Read(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED overlapped) {
    LARGE_INTEGER zero = {}, position = {};
    // A positional read says where it reads; any other reads where its handle stands.
    bool placed = true;
    if (overlapped) {
        position.QuadPart = static_cast<LONGLONG>(overlapped->Offset | uint64_t{overlapped->OffsetHigh} << 32);
    } else {
        placed = ::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) != 0;
    }
    began = true;
    BOOL ok = belowRead(handle, buffer, length, got, overlapped);
    if (ok && placed && got && *got != 0) {
        EnterCriticalSection(&lock);
        auto file = files.find(handle);
        if (file != files.end()) {
            uint64_t from = static_cast<uint64_t>(position.QuadPart);
            delivered[file->second].push_back({from, from + *got});
        }
        LeaveCriticalSection(&lock);
    }
    return ok;
}

BOOL WINAPI Close(HANDLE handle) {
    EnterCriticalSection(&lock);
    files.erase(handle);
    LeaveCriticalSection(&lock);
    return belowClose(handle);
}

void Install(const std::vector<std::wstring>& comparedFiles) {
    static bool made = false;
    if (!made) InitializeCriticalSection(&lock);
    made = true;
    compared.clear();
    for (const std::wstring& file : comparedFiles) compared.insert(Key(file));
    files.clear();
    delivered.clear();
    began = false;
    belowOpen = win.CreateFileW;
    belowRead = win.ReadFile;
    belowClose = win.CloseHandle;
    win.CreateFileW = Open;
    win.ReadFile = Read;
    win.CloseHandle = Close;
}

// Whether reads delivered every byte of the file.
bool ReadWhole(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    std::vector<std::pair<uint64_t, uint64_t>> ranges = delivered[Key(path)];
    std::sort(ranges.begin(), ranges.end());
    uint64_t end = 0;
    for (const auto& [from, to] : ranges) {
        if (from > end) break;
        end = std::max(end, to);
    }
    return end >= size;
}

}  // namespace reads

// Where the failure struck: before the run read anything (in the setup of paths, volumes, drives,
// sizes and opens, which decides how and what to read), and whether on one of the compared files
// (an open of one, a call on a handle of one).
namespace where_failed {

std::atomic<bool> inSetup{false};
std::atomic<bool> onCompared{false};
// A read of a handle that the volume refuses anyway: the failure is the medium's own.
std::atomic<bool> failsAnyway{false};

void Note(const void* first, bool path) {
    bool read = strcmp(fault::EntryName(fault::FailedEntry()), "ReadFile") == 0;
    inSetup = !reads::began.load() && !read;
    onCompared = path ? reads::IsCompared(static_cast<const wchar_t*>(first))
                      : reads::IsComparedHandle(const_cast<void*>(first));
    if (read && !path && no_unbuffered_reads::made) {
        EnterCriticalSection(&no_unbuffered_reads::lock);
        failsAnyway = no_unbuffered_reads::unbuffered.count(const_cast<void*>(first)) != 0;
        LeaveCriticalSection(&no_unbuffered_reads::lock);
    }
}

void Install() {
    inSetup = false;
    onCompared = false;
    failsAnyway = false;
    fault::OnFailure(&Note);
}

}  // namespace where_failed

// A run hangs when its main thread waits for good while every thread it started waits too (for
// good, or for work that only the main thread could give), or when such a wait outlasts kHangMs
// (real time). The run is reported, and from then on that wait fails at once and others after a
// second, so that the run ends and the sweep goes on.
constexpr ULONGLONG kHangMs = 10000;
constexpr int kStuckSamples = 6;  // of 50 ms each

namespace hang_watch {

DWORD mainThread = 0;
std::atomic<int> live{0};     // threads the run started that have not ended
std::atomic<int> waiting{0};  // of those, the ones in a wait
std::atomic<bool> hung{false};
std::atomic<HANDLE> hungOn{nullptr};
decltype(win.WaitForSingleObject) belowWait;
decltype(win.CreateThread) belowCreateThread;

struct Start {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

DWORD WINAPI Trampoline(LPVOID parameter) {
    Start start = *static_cast<Start*>(parameter);
    delete static_cast<Start*>(parameter);
    DWORD result = start.routine(start.parameter);
    --live;
    return result;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                           DWORD flags, LPDWORD id) {
    ++live;
    HANDLE thread = belowCreateThread(sa, stack, Trampoline, new Start{routine, parameter}, flags, id);
    if (!thread) --live;
    return thread;
}

DWORD WINAPI Wait(HANDLE handle, DWORD ms) {
    if (handle == fc::kInput) return belowWait(handle, ms);
    if (::GetCurrentThreadId() != mainThread) {
        ++waiting;
        DWORD result = belowWait(handle, ms);
        --waiting;
        return result;
    }
    if (ms != INFINITE) return belowWait(handle, ms);
    const ULONGLONG start = ::GetTickCount64();
    int stuck = 0;
    for (;;) {
        DWORD result = belowWait(handle, handle == hungOn.load() ? 0 : 50);
        if (result != WAIT_TIMEOUT) return result;
        ULONGLONG now = ::GetTickCount64();
        if (waiting.load() == live.load()) ++stuck;
        if (!hung.load() && (stuck >= kStuckSamples || now - start > kHangMs)) {
            hung = true;
            hungOn = handle;
        }
        if (handle == hungOn.load() || (hung.load() && now - start > 1000)) {
            ::SetLastError(ERROR_TIMEOUT);
            return WAIT_FAILED;
        }
    }
}

void Install() {
    mainThread = ::GetCurrentThreadId();
    live = 0;
    waiting = 0;
    hung = false;
    hungOn = nullptr;
    belowWait = win.WaitForSingleObject;
    belowCreateThread = win.CreateThread;
    win.WaitForSingleObject = Wait;
    win.CreateThread = CreateThread;
}

}  // namespace hang_watch

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
    int64_t handles;
    int64_t blocks;
    bool hung;
    std::vector<std::wstring> unread;  // files of `compared` that were not read to their ends
};

// What the unfaulted run of a scenario must show, and how its faulted runs are judged.
struct Expect {
    int exitCode;
    int64_t keptBlocks = 0;              // what the unfaulted run leaves allocated: a listing keeps its session
    bool verdict = true;                 // a comparison, whose verdicts are judged; a listing has none
    const char* besideMain = nullptr;    // an entry that threads beside the main thread must call
    std::vector<std::wstring> compared;  // the files of both sides whose every byte "identical" needs
};

class Sweep : public FakeConsoleTest {
protected:
    std::vector<std::wstring> compared_;

    // Fakes of a scenario, put into the seam below the injector for every run.
    virtual void InstallScenario() {}
    // After each run: what must hold of the files; a test removes there what a run may create.
    virtual void CheckFiles() {}

    // One whole run on a fresh fake console with the injector on top; `failAt` is the position
    // of the call that fails with `error`, or SIZE_MAX to record the calls of an unfaulted run.
    RunResult Run(const std::vector<std::wstring>& arguments, size_t failAt, uint32_t error = 0) {
        ResetRunState(&TestRun());
        RestoreWinApi();
        Restart();
        win.WriteConsoleA = &CaptureErr;
        win.GetTickCount = &Clock;
        InstallScenario();
        reads::Install(compared_);
        hang_watch::Install();
        fault::Install();
        where_failed::Install();
        if (failAt == SIZE_MAX) {
            fault::Record();
        } else {
            fault::Arm(failAt, error);
        }
        // Every prompt a failure brings is answered by a Y pressed while it waits.
        for (uint32_t at = 700; at < 120000; at += 700) fc::ScriptPress(at, 'Y');
        errText.clear();
        clockMs = 0;
        std::vector<std::wstring> args = {L"qvb.exe", L"-n"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<wchar_t*> vector;
        for (std::wstring& a : args) vector.push_back(a.data());
        vector.push_back(nullptr);
        RunResult r;
        r.exitCode = RunMainSequence(&TestRun(), static_cast<int>(args.size()), vector.data());
        r.handles = fault::OpenHandles();
        r.blocks = fault::OpenBlocks();
        fault::ReleaseLeftOver();
        r.out = fc::Output();
        r.err = errText;
        r.hung = hang_watch::hung.load();
        for (const std::wstring& file : compared_) {
            if (!reads::ReadWhole(file)) r.unread.push_back(file);
        }
        ResetRunState(&TestRun());
        RestoreWinApi();
        return r;
    }

    static size_t Reads() {
        const std::vector<int>& made = fault::Calls();
        return std::count_if(made.begin(), made.end(),
                             [](int id) { return !strcmp(fault::EntryName(id), "ReadFile"); });
    }

    // Records the calls of an unfaulted run, then fails each of them once with each of its errors.
    // Returns the number of calls.
    size_t SweepAllCalls(const std::vector<std::wstring>& args, const Expect& expect) {
        compared_ = expect.compared;
        RunResult baseline = Run(args, SIZE_MAX);
        EXPECT_TRUE(baseline.unread.empty());
        EXPECT_EQ(baseline.exitCode, expect.exitCode) << baseline.out << baseline.err;
        EXPECT_EQ(baseline.handles, 0);
        EXPECT_EQ(baseline.blocks, expect.keptBlocks);
        EXPECT_FALSE(baseline.hung);
        if (expect.besideMain) {
            EXPECT_GT(fault::CallsBesideMainThread(expect.besideMain), 0u) << expect.besideMain;
        }
        CheckFiles();
        const std::vector<int> calls = fault::Calls();
        const size_t reads = Reads();
        EXPECT_GT(calls.size(), 20u);
        // Faulted runs are judged against the unfaulted one: a wrong one would only mislead.
        if (HasFailure()) return calls.size();
        size_t runs = 0, changed = 0, hangs = 0;
        std::set<int> hanging;
        for (size_t i = 0; i < calls.size(); ++i) {
            for (uint32_t error : fault::ErrorsOf(calls[i])) {
                RunResult r = Run(args, i, error);
                ++runs;
                const int failed = fault::FailedEntry();
                const std::string name = fault::EntryName(failed);
                SCOPED_TRACE(testing::Message()
                             << "call " << i << ": " << name << " failing with " << fault::FailedError() << "\n"
                             << KeyLines(r.out, r.err));
                CheckFiles();
                if (r.hung) {
                    // Told once per entry; the runs after a hang prove nothing else.
                    if (hanging.insert(failed).second) ADD_FAILURE() << "the run hangs";
                    ++hangs;
                    continue;
                }
                EXPECT_GE(r.exitCode, 0);
                EXPECT_LE(r.exitCode, 12);
                EXPECT_FALSE(fc::DeadlineHit());
                if (r.exitCode != baseline.exitCode) {
                    // An outcome that changed must be explained: some text the unfaulted run did not show.
                    EXPECT_TRUE(r.out != baseline.out || r.err != baseline.err);
                    ++changed;
                }
                if (r.exitCode == baseline.exitCode || r.exitCode == 1 || r.exitCode == 11) {
                    int allowance = failed >= 0 && fault::IsRelease(failed) ? 1 : 0;
                    EXPECT_LE(r.handles, baseline.handles + allowance);
                    EXPECT_LE(r.blocks, baseline.blocks + allowance);
                }
                if (!expect.verdict) continue;
                EXPECT_LE(Verdicts(r.out), Verdicts(baseline.out)) << "more pairs identical than unfaulted";
                if (baseline.exitCode == 1)
                    EXPECT_NE(r.exitCode, 0) << "false verdict: files that differ ended identical";
                if (r.exitCode != 0) continue;
                // "Identical" promises every byte read on both sides: from the right file and place.
                for (const std::wstring& file : r.unread)
                    ADD_FAILURE() << "false verdict: identical, not read whole: " << file;
                EXPECT_FALSE(LeftUnread(r.out)) << "false verdict: identical with bytes named unread";
                // And how it got there: the call cannot touch a verdict; or it was one on a compared
                // file and the work was done again and completed (the call was made again, more
                // often than unfaulted, and succeeded); or it was none, or it came before anything
                // was read, and the run read every byte all the same.
                const std::vector<int>& made = fault::Calls();
                bool redone = fault::FailedEntrySucceededLater() && std::count(made.begin(), made.end(), failed) >
                                                                        std::count(calls.begin(), calls.end(), failed);
                // Or a thread beside the main one failed and its work was done another way: the
                // run read more than unfaulted.
                bool handedBack = fault::FailedBesideMainThread() && Reads() > reads;
                bool aside = !where_failed::onCompared || where_failed::inSetup || where_failed::failsAnyway;
                if (failed >= 0 && !WhyHarmless(failed) && !redone && !handedBack && !aside) {
                    ADD_FAILURE() << "false verdict: identical after a failure that was not made good";
                }
            }
        }
        printf("sweep: %zu calls, %zu runs, %zu changed the exit code, %zu hung\n", calls.size(), runs, changed, hangs);
        return calls.size();
    }
};

// --- File pairs

struct PairRow {
    const char* name;
    bool differs;            // three bytes differ: in the first, the second and the last block
    bool twoDrives;          // file 2 on the second disk: both sides are read at once
    uint64_t mediumGone;     // where the first read fails with ERROR_NOT_READY unfaulted, or UINT64_MAX
    bool noUnbufferedReads;  // both files on a volume that refuses unbuffered reads
    const wchar_t* option;   // before the paths, or null
    bool share;              // file 2 on the second disk, a network drive
};

void PrintTo(const PairRow& row, std::ostream* out) { *out << row.name; }

const PairRow kPairs[] = {
    {"Differing", true, false, UINT64_MAX, false, nullptr},
    {"Identical", false, false, UINT64_MAX, false, nullptr},
    {"IdenticalOnTwoDrives", false, true, UINT64_MAX, false, nullptr},
    {"IdenticalAfterAReopen", false, false, 1048576, false, nullptr},
    {"IdenticalWithoutUnbufferedReads", false, false, UINT64_MAX, true, nullptr},
    // -i: sizes that differ are compared to the end of the smaller; these do not differ.
    {"IdenticalToTheSmallerEnd", false, false, UINT64_MAX, false, L"-i"},
    {"IdenticalFromAShare", false, true, UINT64_MAX, false, nullptr, true},
};

class FilePairSweep : public Sweep, public testing::WithParamInterface<PairRow> {
protected:
    void InstallScenario() override {
        if (GetParam().twoDrives) second_disk::Install();
        if (GetParam().share) network_drive::Install();
        if (GetParam().mediumGone != UINT64_MAX) medium_gone_once::Install(GetParam().mediumGone);
        if (GetParam().noUnbufferedReads) no_unbuffered_reads::Install();
    }
    void CheckFiles() override {
        EXPECT_EQ(ReadWholeFile(a), data);
        EXPECT_EQ(ReadWholeFile(b), other);
    }
    TempFolder folder;
    // On Wine's Z: drive, which the second disk holds.
    TempFolder secondDrive{L"Z:\\tmp"};
    // The same byte everywhere: a block read from the wrong place still matches, so that only a
    // verdict can tell that it was not read.
    std::string data = std::string(3 * 1048576 + 1000, 'q');
    std::string other = [this] {
        std::string o = data;
        if (GetParam().differs) {
            for (size_t at : {size_t{17}, size_t{1048576}, size_t{3 * 1048576 + 999}}) o[at] = 'x';
        }
        return o;
    }();
    std::wstring a = folder.Write(L"a.bin", data);
    std::wstring b = (GetParam().twoDrives ? secondDrive : folder).Write(L"b.bin", other);
};

TEST_P(FilePairSweep, EveryCallFailsOnce) {
    Expect expect{GetParam().differs ? 1 : 0};
    expect.compared = {a, b};
    // Both readers read: the threads beside the main thread make reads.
    if (GetParam().twoDrives) expect.besideMain = "ReadFile";
    std::vector<std::wstring> args = {a, b};
    if (GetParam().option) args.insert(args.begin(), GetParam().option);
    EXPECT_GT(SweepAllCalls(args, expect), 100u);
}

INSTANTIATE_TEST_SUITE_P(Pairs, FilePairSweep, testing::ValuesIn(kPairs),
                         [](const testing::TestParamInfo<PairRow>& info) { return info.param.name; });

// --- Folder runs

class FolderSweep : public Sweep {
protected:
    void SetUp() override {
        Sweep::SetUp();
        for (const std::wstring& f : {tree1, tree2, tree1 + L"\\sub", tree2 + L"\\sub", tree1 + L"\\lnkjunction",
                                      tree1 + L"\\lnkheld", tree2 + L"\\lnkheld"}) {
            CreateDirectoryW(f.c_str(), nullptr);
        }
        for (const auto& [name, text] : kTree2) base.Write(L"tree2\\" + name, text);
        for (const auto& [name, text] : kTree2) {
            if (name.rfind(L"lnkheld", 0) != 0) base.Write(L"tree1\\" + name, name == L"b.txt" ? "other" : text);
        }
        base.Write(L"tree1\\only1.txt", "missing in tree 2");
        base.Write(L"tree1\\lnksym", "");
    }
    void InstallScenario() override {
        fake_links::Install();
        fake_links::LinkData[L"lnkjunction"] =
            fake_links::Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\" + tree1 + L"\\sub", L"");
        fake_links::LinkData[L"lnksym"] = fake_links::Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\D:\\outside", L"D:\\outside");
        // A link of tree 1 whose namesake in tree 2 is a folder with a file: never turned into a link.
        fake_links::LinkData[L"lnkheld"] = fake_links::Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\D:\\elsewhere", L"");
    }
    void CheckFiles() override {
        for (const auto& [name, text] : kTree2) EXPECT_EQ(ReadWholeFile(tree2 + L"\\" + name), text);
        for (const auto& [path, data] : fake_links::Written) {
            EXPECT_FALSE(path.ends_with(L"\\tree2\\lnkheld")) << "a link over a folder that holds data";
        }
        // The reproduced links are taken away again, so that every run starts from the same tree.
        RemoveDirectoryW((tree2 + L"\\lnkjunction").c_str());
        DeleteFileW((tree2 + L"\\lnksym").c_str());
    }
    const std::vector<std::pair<std::wstring, std::string>> kTree2 = {
        {L"a.txt", "same"}, {L"b.txt", "tree 2"}, {L"sub\\c.txt", "below"}, {L"lnkheld\\kept.txt", "data"}};
    TempFolder base;
    std::wstring tree1 = base.File(L"tree1"), tree2 = base.File(L"tree2");
};

TEST_F(FolderSweep, EveryCallFailsOnce) {
    Expect expect{1};
    expect.besideMain = "CreateFileW";  // the pairs in flight: workers open them
    EXPECT_GT(SweepAllCalls({tree1, tree2}, expect), 100u);
}

// Identical trees: the run ends with 0, so a fault that leaves something unread cannot hide
// behind an unchanged exit code. On two drives both sides are read at once where the workers
// leave a pair to the walk: a file above what a worker reads itself.
class IdenticalFolderSweep : public Sweep, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Sweep::SetUp();
        for (const std::wstring& f : {tree1, tree2, tree1 + L"\\sub", tree2 + L"\\sub"}) {
            CreateDirectoryW(f.c_str(), nullptr);
        }
        for (int side = 0; side < 2; ++side) {
            const TempFolder& home = side == 0 ? base : home2;
            const std::wstring tree = side == 0 ? L"tree1\\" : L"tree2\\";
            home.Write(tree + L"a.txt", "same");
            home.Write(tree + L"sub\\c.txt", "below");
            // A folder's pairs queue before those behind it: with two in sub, one is in flight
            // with a worker while the walk compares the other, whatever order the listing has.
            home.Write(tree + L"sub\\d.txt", "beside");
            if (GetParam()) home.Write(tree + L"big.bin", std::string(70000, 'b'));
        }
    }
    void InstallScenario() override {
        if (GetParam()) second_disk::Install();
    }
    void CheckFiles() override { EXPECT_EQ(ReadWholeFile(tree2 + L"\\sub\\c.txt"), "below"); }
    TempFolder base;
    TempFolder secondDrive{L"Z:\\tmp"};
    const TempFolder& home2 = GetParam() ? secondDrive : base;
    std::wstring tree1 = base.File(L"tree1"), tree2 = home2.File(L"tree2");
};

TEST_P(IdenticalFolderSweep, NoUnreadEntryPassesForVerified) {
    Expect expect{0};
    expect.besideMain = "CreateFileW";  // the pairs in flight: workers open them
    for (const std::wstring& tree : {tree1, tree2}) {
        expect.compared.push_back(tree + L"\\a.txt");
        expect.compared.push_back(tree + L"\\sub\\c.txt");
        expect.compared.push_back(tree + L"\\sub\\d.txt");
        if (GetParam()) expect.compared.push_back(tree + L"\\big.bin");
    }
    EXPECT_GT(SweepAllCalls({tree1, tree2}, expect), 100u);
}

INSTANTIATE_TEST_SUITE_P(Trees, IdenticalFolderSweep, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? "OnTwoDrives" : "OnOneDrive";
});

// --- Listings

class ListingSweep : public Sweep {
protected:
    void InstallScenario() override {
        machine = std::make_unique<MachineScenario>();
        machine->Disk(0, 17).Disk(1, 7);
        machine->DiskDevice(0).product = "NVMe Disk 1TB";
        machine->DiskDevice(1).vendor = "Generic-";
        machine->DiskDevice(1).product = "SD/MMC";
        FakeVolume* v = &machine->Volume(L"E:\\", 0);
        v->label = L"Data";
        v->length = 1000204886016;
        machine->Volume(L"C:\\mnt\\card\\", 1).length = 31914983424;
        machine->CdRom(L'R', 0);
        guard = std::make_unique<MachineGuard>(*machine);
    }
    void TearDown() override {
        guard.reset();
        machine.reset();
        Sweep::TearDown();
    }
    std::unique_ptr<MachineScenario> machine;
    std::unique_ptr<MachineGuard> guard;
    // A listing ends the process at once and keeps its console session; it has no verdict.
    const Expect kListing{0, 1, false};
};

TEST_F(ListingSweep, EveryCallOfTheDiskListingFailsOnce) { EXPECT_GT(SweepAllCalls({L"-ld"}, kListing), 30u); }
TEST_F(ListingSweep, EveryCallOfTheVolumeListingFailsOnce) { EXPECT_GT(SweepAllCalls({L"-lv"}, kListing), 30u); }

}  // namespace
