#include "app/process_environment.h"

#include "base/system_library.h"
#include "platform/entry_points.h"
#include "platform/win_api.h"

ProgramVersionRecord ProgramVersion = {};

namespace {

typedef BOOL(WINAPI* SetDllDirectoryAFunction)(LPCSTR);
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* GetFileVersionInfoWFunction)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueWFunction)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

}  // namespace

void HardenDllSearch() {
    // Both are looked up: older systems lack them, and a missing one is simply skipped.
    HMODULE kernel32 = win.GetModuleHandleW(L"kernel32.dll");
    if (auto setDllDirectory = FindEntryPoint<SetDllDirectoryAFunction>(kernel32, "SetDllDirectoryA")) {
        setDllDirectory("");
    }
    if (auto setDefault = FindEntryPoint<SetDefaultDllDirectoriesFunction>(kernel32, "SetDefaultDllDirectories")) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

bool EnablePrivilege(HANDLE token, const wchar_t* name, bool enable) {
    LUID luid;
    if (!win.LookupPrivilegeValueW(nullptr, name, &luid)) return false;

    // First learn the privilege's current attributes, then set or clear only the enabled bit.
    TOKEN_PRIVILEGES request = {};
    request.PrivilegeCount = 1;
    request.Privileges[0].Luid = luid;
    request.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousSize = sizeof(previous);
    win.AdjustTokenPrivileges(token, FALSE, &request, sizeof(previous), &previous, &previousSize);
    if (win.GetLastError() != ERROR_SUCCESS) return false;  // also ERROR_NOT_ALL_ASSIGNED

    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable) {
        previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    } else {
        previous.Privileges[0].Attributes &= ~DWORD{SE_PRIVILEGE_ENABLED};
    }
    win.AdjustTokenPrivileges(token, FALSE, &previous, previousSize, nullptr, nullptr);
    return win.GetLastError() == ERROR_SUCCESS;
}

bool EnableBackupPrivileges() {
    HANDLE token = nullptr;
    if (!win.OpenProcessToken(win.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    // A privilege the account lacks simply stays off.
    EnablePrivilege(token, L"SeRestorePrivilege", true);
    EnablePrivilege(token, L"SeBackupPrivilege", true);
    EnablePrivilege(token, L"SeSecurityPrivilege", true);
    EnablePrivilege(token, L"SeCreateSymbolicLinkPrivilege", true);
    win.CloseHandle(token);
    return true;
}

bool ReadOwnVersion(const wchar_t* programPath, ProgramVersionRecord* record) {
    *record = {};
    HMODULE version = LoadSystemLibrary("version.dll");
    auto getInfo = FindEntryPoint<GetFileVersionInfoWFunction>(version, "GetFileVersionInfoW");
    auto queryValue = FindEntryPoint<VerQueryValueWFunction>(version, "VerQueryValueW");
    if (!getInfo || !queryValue) return false;

    // The fixed part lies in the first bytes of the version data; the rest is not needed.
    alignas(8) unsigned char data[512] = {};
    if (!getInfo(programPath, 0, sizeof(data), data)) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!queryValue(data, L"\\", &value, &length) || length == 0) return false;
    // The answer must lie inside the buffer and be a fixed-information record.
    auto* begin = static_cast<unsigned char*>(value);
    if (begin < data || length < sizeof(VS_FIXEDFILEINFO) || begin + sizeof(VS_FIXEDFILEINFO) > data + sizeof(data)) {
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != VS_FFI_SIGNATURE) return false;
    record->major = HIWORD(fixed->dwFileVersionMS);
    record->minor = LOWORD(fixed->dwFileVersionMS);
    record->build = HIWORD(fixed->dwFileVersionLS);
    record->revision = LOWORD(fixed->dwFileVersionLS);
    return true;
}
