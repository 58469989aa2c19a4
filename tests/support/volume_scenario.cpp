#include "support/volume_scenario.h"

#include <cwchar>

namespace {

VolumeScenario* active = nullptr;

template <typename Map>
const typename Map::mapped_type* Find(const Map& map, const wchar_t* key) {
    auto it = map.find(key ? key : L"");
    return it == map.end() ? nullptr : &it->second;
}

DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path) {
    if (const DWORD* found = Find(active->attributes, path)) return *found;
    SetLastError(active->attributesError);
    return INVALID_FILE_ATTRIBUTES;
}

UINT WINAPI FakeGetDriveTypeW(LPCWSTR root) {
    const UINT* found = Find(active->driveTypes, root);
    return found ? *found : DRIVE_NO_ROOT_DIR;
}

DWORD WINAPI FakeQueryDosDeviceW(LPCWSTR device, LPWSTR target, DWORD size) {
    ++active->dosDeviceCalls;
    const std::wstring* answer = Find(active->dosDevices, device);
    if (!answer || answer->empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (active->dosDevicesFillBuffer) {
        for (DWORD i = 0; i < size; ++i) target[i] = (*answer)[i % answer->size()];
        return size;
    }
    if (answer->size() + 2 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A list of names, each terminated, ended by an empty one.
    wmemcpy(target, answer->c_str(), answer->size() + 1);
    target[answer->size() + 1] = 0;
    return static_cast<DWORD>(answer->size() + 2);
}

BOOL WINAPI FakeGetVolumePathNameW(LPCWSTR path, LPWSTR out, DWORD size) {
    ++active->volumePathCalls;
    std::wstring answer;
    if (active->volumePath) {
        answer = *active->volumePath;
    } else {
        for (const auto& [root, flags] : active->volumes) {
            if (root.size() > answer.size() && _wcsnicmp(path, root.c_str(), root.size()) == 0) answer = root;
        }
    }
    if (answer.empty() || answer.size() + 1 > size) {
        SetLastError(answer.empty() ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    wmemcpy(out, answer.c_str(), answer.size() + 1);
    return TRUE;
}

BOOL WINAPI FakeGetVolumeInformationW(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
    const DWORD* found = Find(active->volumes, root);
    if (!found) {
        SetLastError(active->notRootError);
        return FALSE;
    }
    if (flags) *flags = *found;
    return TRUE;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (active->devices.count(path ? path : L"")) return reinterpret_cast<HANDLE>(0x4242);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE) { return TRUE; }

}  // namespace

ScenarioGuard::ScenarioGuard(VolumeScenario& scenario) : previous_(active), saved_(win) {
    active = &scenario;
    win.GetFileAttributesW = FakeGetFileAttributesW;
    win.GetDriveTypeW = FakeGetDriveTypeW;
    win.QueryDosDeviceW = FakeQueryDosDeviceW;
    win.GetVolumePathNameW = FakeGetVolumePathNameW;
    win.GetVolumeInformationW = FakeGetVolumeInformationW;
    win.CreateFileW = FakeCreateFileW;
    win.CloseHandle = FakeCloseHandle;
}

ScenarioGuard::~ScenarioGuard() {
    win = saved_;
    active = previous_;
}
