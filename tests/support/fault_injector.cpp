#include "support/fault_injector.h"

// Windows calling-convention attributes mean nothing on x64; the wrapper types need not keep them.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#include <atomic>
#include <cstring>

#include "platform/win_api.h"

namespace fault {
namespace {

enum EntryId : int {
#define QVB_SEAM(name) kEntry_##name,
#include "platform/win_api_entries.h"
#undef QVB_SEAM
    kEntryCount
};

const char* const kNames[] = {
#define QVB_SEAM(name) #name,
#include "platform/win_api_entries.h"
#undef QVB_SEAM
};

constexpr size_t kMaxCalls = 1 << 20;
int calls[kMaxCalls];
std::atomic<size_t> callCount{0};
std::atomic<int64_t> handles{0}, blocks{0};
size_t armed = SIZE_MAX;
std::atomic<int> failedEntry{-1};
std::vector<int> recorded;

bool Passthrough(int id) {
    static const char* const kNever[] = {
        "GetLastError",
        "SetLastError",
        "GetCurrentProcess",
        "GetCurrentProcessId",
        "GetCurrentThread",
        "GetCurrentThreadId",
        "GetTickCount",
        "GetProcessHeap",
        "EnterCriticalSection",
        "LeaveCriticalSection",
        "InitializeCriticalSection",
        "DeleteCriticalSection",
        "Sleep",
        "ExitProcess",
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
    for (const char* name : kNever) {
        if (strcmp(kNames[id], name) == 0) return true;
    }
    return false;
}

bool NameIs(int id, const char* name) { return strcmp(kNames[id], name) == 0; }

// Whether this call is the one to fail; records it either way.
bool Intercept(int id) {
    if (Passthrough(id)) return false;
    size_t index = callCount.fetch_add(1);
    if (index < kMaxCalls) calls[index] = id;
    if (index != armed) return false;
    failedEntry = id;
    return true;
}

bool IsOpen(int id) {
    static const char* const kOpens[] = {"CreateFileW",      "CreateEventW",         "CreateThread",
                                         "OpenThread",       "FindFirstFileW",       "FindFirstFileExW",
                                         "FindFirstVolumeW", "SetupDiGetClassDevsW", "OpenProcessToken"};
    for (const char* name : kOpens) {
        if (NameIs(id, name)) return true;
    }
    return false;
}

template <typename R>
bool Succeeded(int id, R result) {
    if constexpr (std::is_pointer_v<R>) {
        return result != nullptr && result != INVALID_HANDLE_VALUE;
    } else {
        (void)id;
        return result != 0;
    }
}

// What a failing call returns: its documented failure value.
template <typename R>
R FailureValue(int id) {
    if constexpr (std::is_pointer_v<R>) {
        if (NameIs(id, "CreateFileW") || NameIs(id, "FindFirstFileW") || NameIs(id, "FindFirstFileExW") ||
            NameIs(id, "FindFirstVolumeW") || NameIs(id, "SetupDiGetClassDevsW")) {
            return reinterpret_cast<R>(INVALID_HANDLE_VALUE);
        }
        return nullptr;
    } else if constexpr (std::is_same_v<R, DWORD>) {
        if (NameIs(id, "GetFileSize")) return INVALID_FILE_SIZE;
        if (NameIs(id, "GetFileAttributesW")) return INVALID_FILE_ATTRIBUTES;
        if (NameIs(id, "WaitForSingleObject")) return WAIT_FAILED;
        if (NameIs(id, "SetFilePointer")) return INVALID_SET_FILE_POINTER;
        if (NameIs(id, "GetFileType")) return FILE_TYPE_UNKNOWN;
        if (NameIs(id, "SuspendThread") || NameIs(id, "ResumeThread")) return static_cast<DWORD>(-1);
        return 0;
    } else {
        return R{};
    }
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
            if (Intercept(Id)) {
                ::SetLastError(EntryError(Id));
                return FailureValue<R>(Id);
            }
            R result = real(args...);
            if (IsOpen(Id) && Succeeded(Id, result)) ++handles;
            if ((NameIs(Id, "CloseHandle") || NameIs(Id, "FindClose") || NameIs(Id, "FindVolumeClose") ||
                 NameIs(Id, "SetupDiDestroyDeviceInfoList")) &&
                result) {
                --handles;
            }
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
    callCount = 0;
    handles = 0;
    blocks = 0;
}

const std::vector<int>& Calls() {
    size_t count = callCount.load() < kMaxCalls ? callCount.load() : kMaxCalls;
    recorded.assign(calls, calls + count);
    return recorded;
}

int FailedEntry() { return failedEntry.load(); }

void Arm(size_t callIndex) {
    Record();
    failedEntry = -1;
    armed = callIndex;
}

const char* EntryName(int id) { return id >= 0 && id < kEntryCount ? kNames[id] : "?"; }

uint32_t EntryError(int id) {
    const char* name = EntryName(id);
    if (!strcmp(name, "ReadFile") || !strcmp(name, "DeviceIoControl")) return ERROR_IO_DEVICE;
    if (!strcmp(name, "HeapAlloc") || !strcmp(name, "VirtualAlloc") || !strcmp(name, "CreateThread") ||
        !strcmp(name, "CreateEventW")) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (strstr(name, "Console") || !strcmp(name, "WriteFile") || !strcmp(name, "GetFileType")) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_ACCESS_DENIED;
}

bool IsRelease(int id) {
    const char* name = EntryName(id);
    return !strcmp(name, "CloseHandle") || !strcmp(name, "FindClose") || !strcmp(name, "FindVolumeClose") ||
           !strcmp(name, "HeapFree") || !strcmp(name, "VirtualFree") || !strcmp(name, "SetupDiDestroyDeviceInfoList");
}

int64_t OpenHandles() { return handles.load(); }
int64_t OpenBlocks() { return blocks.load(); }

}  // namespace fault
