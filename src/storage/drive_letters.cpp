#include "storage/drive_letters.h"

#include <cstring>
#include <cwchar>

#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

wchar_t DriveLetterOf(const wchar_t* path) {
    if (!path) return 0;
    path = SkipLongPathPrefix(path);
    if (!IsAsciiLetter(path[0]) || path[1] != L':') return 0;
    return static_cast<wchar_t>(path[0] & ~0x20);
}

bool ResolveSubstDrive(const wchar_t* path, wchar_t* out, size_t capacity, bool* refused) {
    if (refused) *refused = false;
    wchar_t letter = DriveLetterOf(path);
    if (letter == 0) return false;
    wchar_t device[] = {letter, L':', 0};
    wchar_t target[kDosDeviceChars];
    if (!QueryDosTarget(device, target)) return false;
    // A substitution answers "\??\E:\folder"; a real volume answers with an NT device name.
    if (wcsncmp(target, L"\\??\\", 4) != 0 || !IsAsciiLetter(target[4]) || target[5] != L':') return false;

    // The rest is taken before `out`, which may be the same buffer, is written.
    const wchar_t* rest = SkipLongPathPrefix(path) + 2;
    size_t folderLength = wcslen(target + 4);
    size_t restLength = wcslen(rest);
    if (4 + folderLength + restLength >= capacity) {
        if (refused) *refused = true;
        out[0] = 0;
        return false;
    }
    memmove(out + 4 + folderLength, rest, (restLength + 1) * sizeof(wchar_t));
    memcpy(out, L"\\\\?\\", 4 * sizeof(wchar_t));
    memcpy(out + 4, target + 4, folderLength * sizeof(wchar_t));
    return true;
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
