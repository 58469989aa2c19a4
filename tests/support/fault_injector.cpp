#include "support/fault_injector.h"

// Windows calling-convention attributes mean nothing on x64; the wrapper types need not keep them.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#include <atomic>
#include <cstring>
#include <tuple>

#include "platform/win_api.h"
#include "support/seam_entries.h"

namespace fault {
namespace {

using namespace seam_entries;

constexpr size_t kMaxCalls = 1 << 20;
int calls[kMaxCalls];
bool besideMain[kMaxCalls];
std::atomic<size_t> callCount{0};
std::atomic<int64_t> handles{0}, blocks{0};
size_t armed = SIZE_MAX;
uint32_t armedError = 0;
DWORD mainThread = 0;
std::atomic<int> failedEntry{-1};
std::atomic<uint32_t> failedError{0};
std::atomic<size_t> failedAt{SIZE_MAX};
std::atomic<bool> succeededLater{false};
std::vector<int> recorded;
void (*failureHook)(const void*, bool) = nullptr;
// A handle whose release was the call that failed, with the real release, for ReleaseLeftOver.
BOOL(WINAPI* leftOverRelease)(HANDLE) = nullptr;
HANDLE leftOverHandle = nullptr;

template <typename R, typename... Args>
struct IsHandleRelease : std::false_type {};
template <>
struct IsHandleRelease<BOOL, HANDLE> : std::true_type {};

// The first argument of a call, where it names what the call is about: a path or a handle.
template <typename... Args>
void TellFailure(Args... args) {
    if (!failureHook) return;
    if constexpr (sizeof...(Args) == 0) {
        failureHook(nullptr, false);
    } else {
        using First = std::tuple_element_t<0, std::tuple<Args...>>;
        const First first = std::get<0>(std::tuple<Args...>(args...));
        if constexpr (std::is_same_v<First, LPCWSTR> || std::is_same_v<First, LPWSTR>) {
            failureHook(first, true);
        } else if constexpr (std::is_same_v<First, HANDLE>) {
            failureHook(first, false);
        } else {
            failureHook(nullptr, false);
        }
    }
}

bool Passthrough(int id) {
    static const char* const kNever[] = {
        "GetLastError",
        "SetLastError",
        "GetCurrentProcess",
        "GetCurrentProcessId",
        "GetCurrentThread",
        "GetCurrentThreadId",
        "GetTickCount",
        "QueryPerformanceCounter",
        "QueryPerformanceFrequency",
        "GetProcessHeap",
        "EnterCriticalSection",
        "LeaveCriticalSection",
        "InitializeCriticalSection",
        "DeleteCriticalSection",
        "AcquireSRWLockExclusive",
        "ReleaseSRWLockExclusive",
        "WakeConditionVariable",
        "WakeAllConditionVariable",
        "Sleep",
        "ExitProcess",
        "TerminateProcess",
        "GetOEMCP",
        "wvsprintfA",
        "wvsprintfW",
        "StrStrW",
        "StrStrIW",
        "StrRStrIW",
        "StrToIntW",
        "CharUpperW",
        "lstrcmpiW",
        "GetStdHandle",
        "GetCommandLineW",
    };
    return NameIn(id, kNever);
}

// Records the call and returns its position, or SIZE_MAX for a call that is not counted.
size_t Intercept(int id) {
    if (Passthrough(id)) return SIZE_MAX;
    size_t index = callCount.fetch_add(1);
    if (index < kMaxCalls) {
        calls[index] = id;
        besideMain[index] = ::GetCurrentThreadId() != mainThread;
    }
    return index;
}

// The error the armed call fails with: the one asked for when its entry can give it.
uint32_t ErrorFor(int id) {
    std::vector<uint32_t> errors = ErrorsOf(id);
    for (uint32_t e : errors) {
        if (e == armedError) return e;
    }
    return errors.front();
}

bool IsOpen(int id) {
    static const char* const kOpens[] = {"CreateFileW",      "CreateEventW",
                                         "CreateThread",     "OpenThread",
                                         "FindFirstFileW",   "FindFirstFileExW",
                                         "FindFirstVolumeW", "SetupDiGetClassDevsW",
                                         "OpenProcessToken", "BCryptOpenAlgorithmProvider",
                                         "BCryptCreateHash"};
    return NameIn(id, kOpens);
}

bool IsHandleClose(int id) {
    static const char* const kCloses[] = {"CloseHandle",       "FindClose",
                                          "FindVolumeClose",   "SetupDiDestroyDeviceInfoList",
                                          "BCryptDestroyHash", "BCryptCloseAlgorithmProvider"};
    return NameIn(id, kCloses);
}

template <int Id, typename Function>
struct Wrapper {
    static constexpr bool kWrapped = false;
    static void Wrap(Function&) {}
};

template <int Id, typename R, typename... Args>
struct Wrapper<Id, R (*)(Args...)> {
    static constexpr bool kWrapped = true;
    static inline R (*real)(Args...) = nullptr;

    static R WINAPI Call(Args... args) {
        if constexpr (std::is_void_v<R>) {
            Intercept(Id);
            real(args...);
        } else {
            size_t index = Intercept(Id);
            if (index != SIZE_MAX && index == armed) {
                uint32_t error = ErrorFor(Id);
                failedError = error;
                failedAt = index;
                failedEntry = Id;
                TellFailure(args...);
                if constexpr (IsHandleRelease<R, Args...>::value) {
                    if (IsRelease(Id)) {
                        leftOverRelease = real;
                        leftOverHandle = std::get<0>(std::tuple<Args...>(args...));
                    }
                }
                ::SetLastError(error);
                return FailureValue<R>(Id);
            }
            R result = real(args...);
            bool ok = std::is_pointer_v<R> || ReturnsStatus(Id) ? Succeeded(Id, result) : result != FailureValue<R>(Id);
            if (ok && index != SIZE_MAX && index > failedAt.load() && Id == failedEntry.load()) {
                succeededLater = true;
            }
            if (IsOpen(Id) && Succeeded(Id, result)) ++handles;
            if (IsHandleClose(Id) && Succeeded(Id, result)) --handles;
            if ((NameIs(Id, "HeapAlloc") || NameIs(Id, "VirtualAlloc")) && result) ++blocks;
            if ((NameIs(Id, "HeapFree") || NameIs(Id, "VirtualFree")) && result) --blocks;
            return result;
        }
    }
    static void Wrap(R (*&slot)(Args...)) {
        real = slot;
        slot = &Call;
    }
};

}  // namespace

void Install() {
#define QVB_SEAM(name) Wrapper<kEntry_##name, decltype(WinApi::name)>::Wrap(win.name);
#include "platform/win_api_entries.h"
#undef QVB_SEAM
}

void Record() {
    armed = SIZE_MAX;
    mainThread = ::GetCurrentThreadId();
    failedEntry = -1;
    failedAt = SIZE_MAX;
    succeededLater = false;
    callCount = 0;
    handles = 0;
    blocks = 0;
}

const std::vector<int>& Calls() {
    size_t count = callCount.load() < kMaxCalls ? callCount.load() : kMaxCalls;
    recorded.assign(calls, calls + count);
    return recorded;
}

size_t CallsBesideMainThread(const char* name) {
    size_t count = callCount.load() < kMaxCalls ? callCount.load() : kMaxCalls;
    size_t beside = 0;
    for (size_t i = 0; i < count; ++i) beside += besideMain[i] && NameIs(calls[i], name);
    return beside;
}

int FailedEntry() { return failedEntry.load(); }
uint32_t FailedError() { return failedError.load(); }
bool FailedEntrySucceededLater() { return succeededLater.load(); }
bool FailedBesideMainThread() {
    size_t at = failedAt.load();
    return at < kMaxCalls && besideMain[at];
}
void OnFailure(void (*hook)(const void*, bool)) { failureHook = hook; }

void ReleaseLeftOver() {
    if (leftOverRelease) leftOverRelease(leftOverHandle);
    leftOverRelease = nullptr;
    leftOverHandle = nullptr;
}

void Arm(size_t callIndex, uint32_t error) {
    Record();
    armed = callIndex;
    armedError = error;
}

const char* EntryName(int id) { return id >= 0 && id < kEntryCount ? kNames[id] : "?"; }

std::vector<uint32_t> ErrorsOf(int id) {
    static const char* const kOnFilesAndDevices[] = {
        "ReadFile",         "CreateFileW",     "SetFilePointerEx",           "SetFilePointer",
        "GetFileSize",      "DeviceIoControl", "GetFileInformationByHandle", "FindFirstFileW",
        "FindFirstFileExW", "FindNextFileW",   "GetFileAttributesW",
    };
    if (NameIn(id, kOnFilesAndDevices)) return {ERROR_CRC, ERROR_NOT_READY, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED};
    const char* name = EntryName(id);
    if (!strcmp(name, "HeapAlloc") || !strcmp(name, "VirtualAlloc") || !strcmp(name, "CreateThread") ||
        !strcmp(name, "CreateEventW")) {
        return {ERROR_NOT_ENOUGH_MEMORY};
    }
    if (strstr(name, "Console") || !strcmp(name, "WriteFile") || !strcmp(name, "GetFileType")) {
        return {ERROR_INVALID_HANDLE};
    }
    return {ERROR_ACCESS_DENIED};
}

bool IsRelease(int id) {
    const char* name = EntryName(id);
    return !strcmp(name, "CloseHandle") || !strcmp(name, "FindClose") || !strcmp(name, "FindVolumeClose") ||
           !strcmp(name, "HeapFree") || !strcmp(name, "VirtualFree") || !strcmp(name, "SetupDiDestroyDeviceInfoList") ||
           !strcmp(name, "BCryptDestroyHash") || !strcmp(name, "BCryptCloseAlgorithmProvider");
}

int64_t OpenHandles() { return handles.load(); }
int64_t OpenBlocks() { return blocks.load(); }

}  // namespace fault
