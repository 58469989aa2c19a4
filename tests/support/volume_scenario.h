// Drives, substitutions, network letters and mount folders that Wine cannot show, as tables that
// the path and volume calls of the seam answer from.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "support/seam.h"

struct VolumeScenario {
    std::map<std::wstring, DWORD> attributes;         // GetFileAttributesW; others fail
    DWORD attributesError = ERROR_FILE_NOT_FOUND;
    std::map<std::wstring, UINT> driveTypes;          // GetDriveTypeW; others DRIVE_NO_ROOT_DIR
    std::map<std::wstring, std::wstring> dosDevices;  // QueryDosDeviceW by device name; others fail
    bool dosDevicesFillBuffer = false;                // answers fill the whole buffer, unterminated
    std::map<std::wstring, DWORD> volumes;            // roots GetVolumeInformationW accepts, and their flags
    DWORD notRootError = ERROR_DIR_NOT_ROOT;          // what GetVolumeInformationW gives for other paths
    // GetVolumePathNameW's answer; without one, the longest root in `volumes` that begins the path.
    std::optional<std::wstring> volumePath;
    std::set<std::wstring> devices;                   // CreateFileW opens these; others fail
    int dosDeviceCalls = 0;
    int volumePathCalls = 0;
};

// Points the seven entries at `scenario` while alive.
class ScenarioGuard {
public:
    explicit ScenarioGuard(VolumeScenario& scenario);
    ~ScenarioGuard();
    ScenarioGuard(const ScenarioGuard&) = delete;
    ScenarioGuard& operator=(const ScenarioGuard&) = delete;

private:
    VolumeScenario* previous_;
    WinApi saved_;
};
