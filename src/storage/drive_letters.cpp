#include "storage/drive_letters.h"

#include <cstring>
#include <cwchar>

#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"

bool ResolveSubstDrive(const wchar_t* path, wchar_t* out, size_t capacity, bool* refused) {
    if (refused) *refused = false;
    wchar_t target[kDosDeviceChars];
    DriveStandIn standIn = ReadDriveStandIn(path, target);
    if (standIn.kind != kDriveFolder) return false;
    if (JoinPathParts(out, capacity, L"\\\\?\\", standIn.base, standIn.rest)) return true;
    if (refused) *refused = true;
    return false;
}

wchar_t DriveLetterForDevice(const wchar_t* ntDeviceName) {
    if (!ntDeviceName) return 0;
    DWORD drives = win.GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        wchar_t device[] = {static_cast<wchar_t>(L'A' + i), L':', 0};
        wchar_t target[kDosDeviceChars];
        if (QueryDosTarget(device, target) && wcscmp(target, ntDeviceName) == 0) return device[0];
    }
    return 0;
}
