#include "support/strict_seam.h"

// Windows calling-convention attributes mean nothing on x64; the wrapper types need not keep them.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "platform/win_api.h"
#include "support/seam_entries.h"

namespace strict {
namespace {

using namespace seam_entries;

// The real functions, below the layer.
WinApi below;
uint32_t sectorSize = 512;

std::mutex lock;
std::vector<std::string> violations;

// Kernel handles are closed with CloseHandle; searches, device-information sets and the objects of
// bcrypt.dll are no kernel handles at all and have closing calls of their own.
enum class Kind { kFile, kEvent, kThread, kToken, kFind, kVolumeSearch, kDeviceInfo, kAlgorithm, kHash };

const char* KindName(Kind kind) {
    static const char* const kNamesOfKinds[] = {
        "file",           "event", "thread", "token", "file search", "volume search", "device information set",
        "hash algorithm", "hash"};
    return kNamesOfKinds[static_cast<int>(kind)];
}

struct Tracked {
    Kind kind;
    bool open;
    bool unbuffered;  // FILE_FLAG_NO_BUFFERING, or a volume or disk, which takes whole sectors anyway
    uint64_t account;
    DWORD thread;      // the thread that opened it
    std::string what;  // the opening call, for the messages
    // Of a hash algorithm: the room a hash object needs and the length of a digest. Of a hash: its
    // algorithm, its digest length, whether it was finished.
    ULONG objectBytes = 0;
    ULONG digestBytes = 0;
    HANDLE algorithm = nullptr;
    bool finished = false;
};

std::unordered_map<HANDLE, Tracked> handles;
uint64_t account = 0;

// Guards that ask with short buffers on purpose, on this thread.
thread_local int shortOnPurpose = 0;

std::string Printed(const char* format, va_list args) {
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    return text;
}

void Violate(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Printed(format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(lock);
    violations.push_back(text);
}

// Fails a call whose buffers are too small: the error Windows gives, and why, unless on purpose.
bool Refuse(DWORD error, const char* format, ...) {
    if (shortOnPurpose == 0) {
        va_list args;
        va_start(args, format);
        Violate("%s", Printed(format, args).c_str());
        va_end(args);
    }
    below.SetLastError(error);
    return false;
}

// What each control code the program sends always writes, whatever its answer: an output below it
// gets no part of the answer. Reparse data has a header of 8 bytes (24 with the GUID of a third
// party's tag) before the data it declares.
struct FixedOutput {
    DWORD code;
    const char* name;
    const char* record;
    DWORD bytes;
};
constexpr DWORD kReparseHeaderBytes = 8;
constexpr DWORD kReparseGuidHeaderBytes = 24;
const FixedOutput kFixedOutputs[] = {
    {IOCTL_STORAGE_QUERY_PROPERTY, "IOCTL_STORAGE_QUERY_PROPERTY", "STORAGE_DESCRIPTOR_HEADER",
     sizeof(STORAGE_DESCRIPTOR_HEADER)},
    {IOCTL_STORAGE_GET_DEVICE_NUMBER, "IOCTL_STORAGE_GET_DEVICE_NUMBER", "STORAGE_DEVICE_NUMBER",
     sizeof(STORAGE_DEVICE_NUMBER)},
    {IOCTL_DISK_GET_LENGTH_INFO, "IOCTL_DISK_GET_LENGTH_INFO", "GET_LENGTH_INFORMATION",
     sizeof(GET_LENGTH_INFORMATION)},
    {IOCTL_DISK_GET_DRIVE_GEOMETRY, "IOCTL_DISK_GET_DRIVE_GEOMETRY", "DISK_GEOMETRY", sizeof(DISK_GEOMETRY)},
    {FSCTL_GET_REPARSE_POINT, "FSCTL_GET_REPARSE_POINT", "reparse data header", kReparseHeaderBytes},
    {FSCTL_SET_REPARSE_POINT, "FSCTL_SET_REPARSE_POINT", nullptr, 0},
};

// A volume GUID path is always 49 characters: "\\?\Volume{" and a GUID of 36, "}\".
constexpr DWORD kVolumeGuidPathChars = 50;

// A path for a message: ASCII as it is, anything else as '?', long paths cut in the middle.
std::string Shown(const wchar_t* path) {
    if (!path) return "(null)";
    std::string text;
    size_t length = wcslen(path);
    for (size_t i = 0; i < length; ++i) {
        if (length > 120 && i == 40) {
            text += "...";
            i = length - 60;
        }
        text += path[i] < 0x80 ? static_cast<char>(path[i]) : '?';
    }
    return "'" + text + "' (" + std::to_string(length) + " characters)";
}

// Without the long-path prefix Windows takes paths of fewer than MAX_PATH characters, folders to
// be created of fewer than MAX_PATH - 12 (room for an 8.3 name), unless the process opted in.
bool PathFits(const char* call, const wchar_t* path, size_t limit = MAX_PATH) {
    if (!path) return true;
    if (path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\') return true;
    if (wcslen(path) < limit) return true;
    Violate("%s(%s): a path of %zu characters or more needs the \\\\?\\ prefix", call, Shown(path).c_str(), limit);
    below.SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

// A volume or disk opened as a device ("\\.\C:", "\\.\PhysicalDrive0", "\\?\Volume{...}"): reads
// of its sectors are sector-aligned whatever the flags.
bool IsVolumeOrDisk(const wchar_t* path) {
    if (!path || path[0] != L'\\' || path[1] != L'\\' || (path[2] != L'.' && path[2] != L'?') || path[3] != L'\\') {
        return false;
    }
    const wchar_t* name = path + 4;
    if (wcschr(name, L'\\')) return false;
    for (const wchar_t* other : {L"NUL", L"CON", L"CONIN$", L"CONOUT$"}) {
        if (_wcsicmp(name, other) == 0) return false;
    }
    return true;
}

void Opened(HANDLE handle, Kind kind, bool unbuffered, std::string what) {
    std::lock_guard<std::mutex> guard(lock);
    handles[handle] = {kind, true, unbuffered, account, below.GetCurrentThreadId(), std::move(what)};
}

std::string Describe(HANDLE handle, const Tracked& t) {
    char text[64];
    snprintf(text, sizeof text, "%p (a %s handle from ", handle, KindName(t.kind));
    return text + t.what + ")";
}

// Whether the close may go ahead: a handle closed twice, or by the call of another kind, is
// refused as Windows refuses it (or worse: a search closed with CloseHandle).
bool Closing(const char* call, HANDLE handle, std::initializer_list<Kind> kinds) {
    std::lock_guard<std::mutex> guard(lock);
    auto found = handles.find(handle);
    if (found == handles.end()) return true;  // not ours: a standard handle, one from before the layer
    Tracked& t = found->second;
    std::string text;
    if (!t.open) {
        text = std::string(call) + "(" + Describe(handle, t) + "): closed a second time";
    } else {
        bool right = false;
        for (Kind kind : kinds) right |= kind == t.kind;
        if (right) {
            t.open = false;
            return true;
        }
        text = std::string(call) + "(" + Describe(handle, t) + "): closed by the call of another kind of handle";
    }
    violations.push_back(text);
    below.SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// Whether the call takes handles of the kind: searches, device-information sets and the objects of
// bcrypt.dll go only to calls of their own; every other call takes kernel handles.
bool Takes(int id, Kind own) {
    const char* call = kNames[id];
    if (NameIs(id, "FindNextFileW")) return own == Kind::kFind;
    if (NameIs(id, "FindNextVolumeW")) return own == Kind::kVolumeSearch;
    if (strncmp(call, "SetupDi", 7) == 0) return own == Kind::kDeviceInfo;
    if (NameIs(id, "BCryptGetProperty")) return own == Kind::kAlgorithm || own == Kind::kHash;
    if (NameIs(id, "BCryptCreateHash") || NameIs(id, "BCryptCloseAlgorithmProvider")) return own == Kind::kAlgorithm;
    if (strncmp(call, "BCrypt", 6) == 0) return own == Kind::kHash;
    return own == Kind::kFile || own == Kind::kEvent || own == Kind::kThread || own == Kind::kToken;
}

// Whether a call may use the handle: one that was closed, or one of a kind the call does not take,
// is refused. `unbuffered` tells how it was opened.
bool Usable(int id, HANDLE handle, bool* unbuffered = nullptr) {
    std::lock_guard<std::mutex> guard(lock);
    auto found = handles.find(handle);
    if (found == handles.end()) return true;
    const Tracked& t = found->second;
    if (unbuffered) *unbuffered = t.unbuffered;
    const char* call = kNames[id];
    std::string text;
    if (!t.open) {
        text = std::string(call) + "(" + Describe(handle, t) + "): used after it was closed";
    } else {
        if (Takes(id, t.kind)) return true;
        text = std::string(call) + "(" + Describe(handle, t) + "): not a handle this call takes";
    }
    violations.push_back(text);
    below.SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// The calls that take a path first, each checked against the length Windows takes.
bool IsPathCall(int id) {
    static const char* const kPathCalls[] = {
        "CreateFileW",        "DeleteFileW",        "GetFileAttributesW", "GetDriveTypeW",
        "GetVolumePathNameW", "GetVolumeInformationW", "GetDiskFreeSpaceW", "GetVolumeNameForVolumeMountPointW",
        "FindFirstFileW",     "FindFirstFileExW",   "RemoveDirectoryW",   "SetFileAttributesW"};
    return NameIn(id, kPathCalls);
}

// Console calls that Windows fails on a handle that is no console (a file, a pipe).
bool IsConsoleCall(int id) {
    static const char* const kConsoleCalls[] = {
        "WriteConsoleA",          "WriteConsoleW",         "GetConsoleScreenBufferInfo", "ReadConsoleInputW",
        "ReadConsoleOutputW",     "ReadConsoleOutputCharacterW", "WriteConsoleOutputW", "SetConsoleCursorPosition",
        "SetConsoleScreenBufferSize", "SetConsoleWindowInfo", "GetNumberOfConsoleInputEvents", "FlushConsoleInputBuffer"};
    return NameIn(id, kConsoleCalls);
}

// Whether a console call may go on: on a handle that is no console it fails as on Windows, where
// Wine may write into the file. Trying is no fault: the program falls back to WriteFile.
bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    if (below.GetConsoleMode(handle, &mode)) return true;
    below.SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// Every entry: a handle given first must be usable, a path given first must fit, a console call
// needs a console.
template <int Id, typename Function>
struct Checked {
    static void Wrap(Function&) {}
};

template <int Id, typename R, typename... Args>
struct Checked<Id, R (*)(Args...)> {
    static inline R (*real)(Args...) = nullptr;
    static inline bool pathCall = false, consoleCall = false;

    static R WINAPI Call(Args... args) {
        if constexpr (sizeof...(Args) > 0 && !std::is_void_v<R>) {
            using First = std::tuple_element_t<0, std::tuple<Args...>>;
            const First first = std::get<0>(std::tuple<Args...>(args...));
            if constexpr (std::is_same_v<First, HANDLE>) {
                if (!Usable(Id, first) || (consoleCall && !IsConsole(first))) return FailureValue<R>(Id);
            }
            if constexpr (std::is_same_v<First, LPCWSTR>) {
                if (pathCall && !PathFits(kNames[Id], first)) return FailureValue<R>(Id);
            }
        }
        return real(args...);
    }
    static void Wrap(R (*&slot)(Args...)) {
        real = slot;
        pathCall = IsPathCall(Id);
        consoleCall = IsConsoleCall(Id);
        slot = &Call;
    }
};

HANDLE WINAPI CreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                         DWORD flags, HANDLE model) {
    if (!PathFits("CreateFileW", path)) return INVALID_HANDLE_VALUE;
    HANDLE handle = below.CreateFileW(path, access, share, security, disposition, flags, model);
    if (handle != INVALID_HANDLE_VALUE) {
        Opened(handle, Kind::kFile, (flags & FILE_FLAG_NO_BUFFERING) || IsVolumeOrDisk(path),
               "CreateFileW " + Shown(path));
    }
    return handle;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD got, LPOVERLAPPED overlapped) {
    bool unbuffered = false;
    if (!Usable(kEntry_ReadFile, handle, &unbuffered)) return FALSE;
    if (unbuffered) {
        uint64_t offset = 0;
        if (overlapped) {
            offset = overlapped->Offset | uint64_t{overlapped->OffsetHigh} << 32;
        } else {
            LARGE_INTEGER zero = {}, at = {};
            below.SetFilePointerEx(handle, zero, &at, FILE_CURRENT);
            offset = static_cast<uint64_t>(at.QuadPart);
        }
        if (reinterpret_cast<uintptr_t>(buffer) % sectorSize || length % sectorSize || offset % sectorSize) {
            Violate("ReadFile(%p, buffer %p, %lu bytes, at offset %llu): an unbuffered read takes whole sectors of %u "
                    "bytes, at a sector boundary, into a buffer aligned to one",
                    handle, buffer, static_cast<unsigned long>(length), static_cast<unsigned long long>(offset),
                    sectorSize);
            if (got) *got = 0;
            below.SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    return below.ReadFile(handle, buffer, length, got, overlapped);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (!Closing("CloseHandle", handle, {Kind::kFile, Kind::kEvent, Kind::kThread, Kind::kToken})) return FALSE;
    return below.CloseHandle(handle);
}

BOOL WINAPI FindClose(HANDLE handle) {
    if (!Closing("FindClose", handle, {Kind::kFind})) return FALSE;
    return below.FindClose(handle);
}

BOOL WINAPI FindVolumeClose(HANDLE handle) {
    if (!Closing("FindVolumeClose", handle, {Kind::kVolumeSearch})) return FALSE;
    return below.FindVolumeClose(handle);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (!Closing("SetupDiDestroyDeviceInfoList", set, {Kind::kDeviceInfo})) return FALSE;
    return below.SetupDiDestroyDeviceInfoList(set);
}

HANDLE WINAPI FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    if (!PathFits("FindFirstFileW", pattern)) return INVALID_HANDLE_VALUE;
    HANDLE search = below.FindFirstFileW(pattern, data);
    if (search != INVALID_HANDLE_VALUE) Opened(search, Kind::kFind, false, "FindFirstFileW " + Shown(pattern));
    return search;
}

HANDLE WINAPI FindFirstFileEx(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS op,
                              LPVOID filter, DWORD flags) {
    if (!PathFits("FindFirstFileExW", pattern)) return INVALID_HANDLE_VALUE;
    HANDLE search = below.FindFirstFileExW(pattern, level, data, op, filter, flags);
    if (search != INVALID_HANDLE_VALUE) Opened(search, Kind::kFind, false, "FindFirstFileExW " + Shown(pattern));
    return search;
}

HANDLE WINAPI FindFirstVolume(LPWSTR name, DWORD chars) {
    if (!VolumeGuidPathFits("FindFirstVolumeW", chars)) return INVALID_HANDLE_VALUE;
    HANDLE search = below.FindFirstVolumeW(name, chars);
    if (search != INVALID_HANDLE_VALUE) Opened(search, Kind::kVolumeSearch, false, "FindFirstVolumeW");
    return search;
}

HDEVINFO WINAPI SetupDiGetClassDevs(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags) {
    HDEVINFO set = below.SetupDiGetClassDevsW(guid, enumerator, parent, flags);
    if (set != INVALID_HANDLE_VALUE) Opened(set, Kind::kDeviceInfo, false, "SetupDiGetClassDevsW");
    return set;
}

HANDLE WINAPI CreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCWSTR name) {
    HANDLE event = below.CreateEventW(security, manual, initial, name);
    if (event) Opened(event, Kind::kEvent, false, "CreateEventW");
    return event;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                           DWORD flags, LPDWORD id) {
    HANDLE thread = below.CreateThread(security, stack, start, parameter, flags, id);
    if (thread) Opened(thread, Kind::kThread, false, "CreateThread");
    return thread;
}

HANDLE WINAPI OpenThread(DWORD access, BOOL inherit, DWORD id) {
    HANDLE thread = below.OpenThread(access, inherit, id);
    if (thread) Opened(thread, Kind::kThread, false, "OpenThread");
    return thread;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    BOOL ok = below.OpenProcessToken(process, access, token);
    if (ok) Opened(*token, Kind::kToken, false, "OpenProcessToken");
    return ok;
}

// Every volume reports the layer's sector size, so that the program aligns to what is enforced.
BOOL WINAPI GetDiskFreeSpace(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                             LPDWORD clusters) {
    if (!PathFits("GetDiskFreeSpaceW", root)) return FALSE;
    BOOL ok = below.GetDiskFreeSpaceW(root, sectorsPerCluster, bytesPerSector, freeClusters, clusters);
    if (ok && bytesPerSector) *bytesPerSector = sectorSize;
    return ok;
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                            LPDWORD returned, LPOVERLAPPED overlapped) {
    if (!Usable(kEntry_DeviceIoControl, device) || !ControlBuffersFit(code, in, inBytes, outBytes)) return FALSE;
    BOOL ok = below.DeviceIoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
    if (ok && code == IOCTL_DISK_GET_DRIVE_GEOMETRY && out && outBytes >= sizeof(DISK_GEOMETRY)) {
        static_cast<DISK_GEOMETRY*>(out)->BytesPerSector = sectorSize;
    }
    return ok;
}

// bcrypt.dll: a hash object lives in the caller's buffer, which must hold the algorithm's object
// length (Wine keeps its own and takes any); a hash finished without BCRYPT_HASH_REUSABLE_FLAG
// (which Windows 7 does not know) takes nothing but BCryptDestroyHash; the digest buffer is
// exactly the digest's length; an algorithm outlives its hashes.
constexpr NTSTATUS kStatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

ULONG PropertyOf(BCRYPT_HANDLE object, const wchar_t* property) {
    ULONG value = 0, got = 0;
    return below.BCryptGetProperty(object, property, reinterpret_cast<PUCHAR>(&value), sizeof value, &got, 0) >= 0
               ? value
               : 0;
}

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                                            ULONG flags) {
    NTSTATUS status = below.BCryptOpenAlgorithmProvider(algorithm, id, implementation, flags);
    if (status < 0) return status;
    Opened(*algorithm, Kind::kAlgorithm, false, "BCryptOpenAlgorithmProvider " + Shown(id));
    ULONG objectBytes = PropertyOf(*algorithm, BCRYPT_OBJECT_LENGTH);
    ULONG digestBytes = PropertyOf(*algorithm, BCRYPT_HASH_LENGTH);
    std::lock_guard<std::mutex> guard(lock);
    handles[*algorithm].objectBytes = objectBytes;
    handles[*algorithm].digestBytes = digestBytes;
    return status;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object,
                                 ULONG objectBytes, PUCHAR secret, ULONG secretBytes, ULONG flags) {
    if (!Usable(kEntry_BCryptCreateHash, algorithm)) return kStatusInvalidHandle;
    ULONG needed = 0, digestBytes = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = handles.find(algorithm);
        if (found != handles.end()) needed = found->second.objectBytes, digestBytes = found->second.digestBytes;
    }
    if (object && objectBytes < needed) {
        Violate("BCryptCreateHash(object of %lu bytes): the algorithm's hash object takes %lu bytes",
                static_cast<unsigned long>(objectBytes), static_cast<unsigned long>(needed));
        return kStatusBufferTooSmall;
    }
    if (flags & BCRYPT_HASH_REUSABLE_FLAG) {
        Violate("BCryptCreateHash(BCRYPT_HASH_REUSABLE_FLAG): Windows 7 refuses the flag");
        return kStatusInvalidParameter;
    }
    NTSTATUS status = below.BCryptCreateHash(algorithm, hash, object, objectBytes, secret, secretBytes, flags);
    if (status < 0) return status;
    Opened(*hash, Kind::kHash, false, "BCryptCreateHash");
    std::lock_guard<std::mutex> guard(lock);
    handles[*hash].algorithm = algorithm;
    handles[*hash].digestBytes = digestBytes;
    return status;
}

// Whether a finished hash is used again: refused as the handle of no hash.
bool UsedAfterFinish(const char* call, BCRYPT_HASH_HANDLE hash) {
    std::lock_guard<std::mutex> guard(lock);
    auto found = handles.find(hash);
    if (found == handles.end() || !found->second.finished) return false;
    violations.push_back(std::string(call) + "(" + Describe(hash, found->second) +
                         "): the hash was finished; only BCryptDestroyHash takes it now");
    return true;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG bytes, ULONG flags) {
    if (!Usable(kEntry_BCryptHashData, hash) || UsedAfterFinish("BCryptHashData", hash)) return kStatusInvalidHandle;
    return below.BCryptHashData(hash, input, bytes, flags);
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG bytes, ULONG flags) {
    if (!Usable(kEntry_BCryptFinishHash, hash) || UsedAfterFinish("BCryptFinishHash", hash)) {
        return kStatusInvalidHandle;
    }
    ULONG digestBytes = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = handles.find(hash);
        if (found != handles.end()) digestBytes = found->second.digestBytes;
    }
    if (digestBytes != 0 && bytes != digestBytes) {
        Violate("BCryptFinishHash(output of %lu bytes): the output is exactly the digest, %lu bytes",
                static_cast<unsigned long>(bytes), static_cast<unsigned long>(digestBytes));
        return kStatusInvalidParameter;
    }
    NTSTATUS status = below.BCryptFinishHash(hash, output, bytes, flags);
    std::lock_guard<std::mutex> guard(lock);
    auto found = handles.find(hash);
    if (found != handles.end()) found->second.finished = true;
    return status;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    if (!Closing("BCryptDestroyHash", hash, {Kind::kHash})) return kStatusInvalidHandle;
    return below.BCryptDestroyHash(hash);
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& [handle, t] : handles) {
            if (t.kind != Kind::kHash || !t.open || t.algorithm != algorithm) continue;
            violations.push_back("BCryptCloseAlgorithmProvider(" + Describe(handle, t) +
                                 " still open): an algorithm is closed after its hashes");
            return kStatusInvalidHandle;
        }
    }
    if (!Closing("BCryptCloseAlgorithmProvider", algorithm, {Kind::kAlgorithm})) return kStatusInvalidHandle;
    return below.BCryptCloseAlgorithmProvider(algorithm, flags);
}

}  // namespace

void Install() {
    below = WinApi{};
    if (const char* bytes = getenv("QVB_STRICT_SECTOR")) SetSectorSize(static_cast<uint32_t>(atoi(bytes)));
    WinApi layer = below;
#define QVB_SEAM(name) Checked<kEntry_##name, decltype(WinApi::name)>::Wrap(layer.name);
#include "platform/win_api_entries.h"
#undef QVB_SEAM
    layer.CreateFileW = &CreateFile;
    layer.ReadFile = &ReadFile;
    layer.CloseHandle = &CloseHandle;
    layer.FindClose = &FindClose;
    layer.FindVolumeClose = &FindVolumeClose;
    layer.SetupDiDestroyDeviceInfoList = &SetupDiDestroyDeviceInfoList;
    layer.FindFirstFileW = &FindFirstFile;
    layer.FindFirstFileExW = &FindFirstFileEx;
    layer.FindFirstVolumeW = &FindFirstVolume;
    layer.SetupDiGetClassDevsW = &SetupDiGetClassDevs;
    layer.CreateEventW = &CreateEvent;
    layer.CreateThread = &CreateThread;
    layer.OpenThread = &OpenThread;
    layer.OpenProcessToken = &OpenProcessToken;
    layer.GetDiskFreeSpaceW = &GetDiskFreeSpace;
    layer.DeviceIoControl = &DeviceIoControl;
    layer.BCryptOpenAlgorithmProvider = &BCryptOpenAlgorithmProvider;
    layer.BCryptCreateHash = &BCryptCreateHash;
    layer.BCryptHashData = &BCryptHashData;
    layer.BCryptFinishHash = &BCryptFinishHash;
    layer.BCryptDestroyHash = &BCryptDestroyHash;
    layer.BCryptCloseAlgorithmProvider = &BCryptCloseAlgorithmProvider;
    layer.FindNextVolumeW = +[](HANDLE search, LPWSTR name, DWORD chars) -> BOOL {
        return Usable(kEntry_FindNextVolumeW, search) && VolumeGuidPathFits("FindNextVolumeW", chars) &&
               below.FindNextVolumeW(search, name, chars);
    };
    layer.GetVolumeNameForVolumeMountPointW = +[](LPCWSTR mountPoint, LPWSTR name, DWORD chars) -> BOOL {
        return PathFits("GetVolumeNameForVolumeMountPointW", mountPoint) &&
               VolumeGuidPathFits("GetVolumeNameForVolumeMountPointW", chars) &&
               below.GetVolumeNameForVolumeMountPointW(mountPoint, name, chars);
    };
    layer.CreateDirectoryW = +[](LPCWSTR path, LPSECURITY_ATTRIBUTES security) -> BOOL {
        return PathFits("CreateDirectoryW", path, MAX_PATH - 12) && below.CreateDirectoryW(path, security);
    };
    SetSeamBase(layer);
}

bool ControlBuffersFit(DWORD code, const void* in, DWORD inBytes, DWORD outBytes) {
    for (const FixedOutput& fixed : kFixedOutputs) {
        if (fixed.code != code) continue;
        if (code == FSCTL_SET_REPARSE_POINT) {
            uint16_t declared = 0;
            if (in && inBytes >= kReparseHeaderBytes) memcpy(&declared, static_cast<const uint8_t*>(in) + 4, 2);
            if (inBytes >= kReparseHeaderBytes && inBytes <= MAXIMUM_REPARSE_DATA_BUFFER_SIZE &&
                (inBytes == kReparseHeaderBytes + declared || inBytes == kReparseGuidHeaderBytes + declared)) {
                return true;
            }
            return Refuse(ERROR_INVALID_REPARSE_DATA,
                          "DeviceIoControl(FSCTL_SET_REPARSE_POINT, input of %lu bytes declaring %u bytes of data): "
                          "the input is the header and exactly the data it declares, at most %u bytes",
                          static_cast<unsigned long>(inBytes), declared, MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
        }
        // Asking the property query for no bytes only asks whether the property exists.
        if (outBytes >= fixed.bytes || (code == IOCTL_STORAGE_QUERY_PROPERTY && outBytes == 0)) return true;
        return Refuse(ERROR_INSUFFICIENT_BUFFER,
                      "DeviceIoControl(%s, output of %lu bytes): the call always writes a %s of %lu bytes; a smaller "
                      "output fails with ERROR_INSUFFICIENT_BUFFER",
                      fixed.name, static_cast<unsigned long>(outBytes), fixed.record,
                      static_cast<unsigned long>(fixed.bytes));
    }
    return true;
}

bool VolumeGuidPathFits(const char* call, DWORD chars) {
    if (chars >= kVolumeGuidPathChars) return true;
    return Refuse(ERROR_FILENAME_EXCED_RANGE,
                  "%s(buffer of %lu characters): a volume GUID path takes %lu characters with its terminator", call,
                  static_cast<unsigned long>(chars), static_cast<unsigned long>(kVolumeGuidPathChars));
}

const char* ControlCodeName(DWORD code) {
    for (const FixedOutput& fixed : kFixedOutputs) {
        if (fixed.code == code) return fixed.name;
    }
    return nullptr;
}

ShortOnPurpose::ShortOnPurpose() { ++shortOnPurpose; }
ShortOnPurpose::~ShortOnPurpose() { --shortOnPurpose; }

void SetSectorSize(uint32_t bytes) {
    if (bytes != 0 && (bytes & (bytes - 1)) == 0) sectorSize = bytes;
}

uint32_t SectorSize() { return sectorSize; }

std::vector<std::string> TakeViolations() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> taken;
    taken.swap(violations);
    return taken;
}

void MarkHandles() {
    std::lock_guard<std::mutex> guard(lock);
    ++account;
    // What was closed is forgotten; what is open from before stays, so that its closing is known.
    for (auto at = handles.begin(); at != handles.end();) at = at->second.open ? std::next(at) : handles.erase(at);
}

std::vector<std::string> Leaks(std::vector<std::string>* abandoned) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> leaks;
    const DWORD self = below.GetCurrentThreadId();
    for (const auto& [handle, t] : handles) {
        if (!t.open || t.account != account) continue;
        // A thread given up after a stop keeps what it opened; the handle is its, not leaked.
        if (t.thread != self) {
            HANDLE opener = below.OpenThread(SYNCHRONIZE, FALSE, t.thread);
            bool running = opener && below.WaitForSingleObject(opener, 0) == WAIT_TIMEOUT;
            if (opener) below.CloseHandle(opener);
            if (running) {
                if (abandoned) abandoned->push_back("left to a thread still running: " + Describe(handle, t));
                continue;
            }
        }
        leaks.push_back("never closed: " + Describe(handle, t));
    }
    return leaks;
}

}  // namespace strict
