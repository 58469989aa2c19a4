#include "paths/volume_roots.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "paths/path_strings.h"
#include "platform/entry_points.h"
#include "platform/win_api.h"

namespace {

// What QueryDosDeviceW reports for a network drive letter: the redirector's device, a text that
// names the drive and the logon, then "\server\share".
const wchar_t* const kRedirectorPrefixes[] = {
    L"\\Device\\LanmanRedirector\\;",
    L"\\Device\\NetWareRedirector\\",
    L"\\Device\\VBoxMiniRdr\\;",
};

bool BeginsWith(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

DWORD ClampToDword(size_t value) { return value > MAXDWORD ? MAXDWORD : static_cast<DWORD>(value); }

// A colon behind the drive part names a stream, which a volume without named streams cannot
// hold, whatever a file of that literal name might say.
bool IsStreamOnVolumeWithoutStreams(const wchar_t* path) {
    size_t length = wcslen(path);
    size_t driveEnd = HasLongPathPrefix(path) ? 6 : 2;
    if (length <= 3 || driveEnd >= length || !wcschr(path + driveEnd, L':')) return false;
    wchar_t root[MAX_PATH];
    DWORD flags = 0;
    return win.GetVolumePathNameW(path, root, MAX_PATH) && wmemchr(root, 0, MAX_PATH) &&
           ReadVolumeFlags(root, &flags, nullptr, nullptr, 0) && !(flags & FILE_NAMED_STREAMS);
}

}  // namespace

bool ReadVolumeFlags(const wchar_t* root, DWORD* flags, DWORD* maxComponent, wchar_t* fileSystem,
                     DWORD fileSystemChars) {
    using ByHandle = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    const ByHandle byHandle = FindLoadedEntryPoint<ByHandle>(L"kernel32.dll", "GetVolumeInformationByHandleW");
    if (byHandle) {
        // No access rights: the handle only names the volume.
        HANDLE handle = win.CreateFileW(root, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            BOOL ok = byHandle(handle, nullptr, 0, nullptr, maxComponent, flags, fileSystem, fileSystemChars);
            win.CloseHandle(handle);
            if (ok) return true;
        }
    }
    // Without the call, or where it does not answer: the error comes from the classic one.
    return win.GetVolumeInformationW(root, nullptr, 0, nullptr, maxComponent, flags, fileSystem, fileSystemChars);
}

bool QueryDosTarget(const wchar_t* deviceName, wchar_t* target) {
    target[0] = 0;
    DWORD stored = win.QueryDosDeviceW(deviceName, target, kDosDeviceChars);
    if (stored == 0) return false;
    // A count beyond the buffer is a lie, and an answer that filled the buffer without its
    // terminator was cut short: either way it names nothing.
    size_t inside = stored < kDosDeviceChars ? stored : kDosDeviceChars;
    if (!wmemchr(target, 0, inside)) {
        target[0] = 0;
        return false;
    }
    return true;
}

DriveStandIn ReadDriveStandIn(const wchar_t* path, wchar_t* target) {
    DriveStandIn found = {kOwnVolume, L"", L"", L""};
    wchar_t letter = DriveLetterOf(path);
    if (letter == 0) return found;
    wchar_t device[3] = {letter, L':', 0};
    if (!QueryDosTarget(device, target)) return found;
    found.rest = SkipLongPathPrefix(path) + 2;
    if (BeginsWith(target, L"\\??\\")) {
        found.base = target + 4;
        // A drive substituted to a share: "\??\UNC\server\share" is \\server\share.
        if (BeginsWith(found.base, L"UNC\\")) {
            found.kind = kShare;
            found.lead = L"\\";
            found.base += 3;
        } else {
            found.kind = IsAsciiLetter(found.base[0]) && found.base[1] == L':' ? kDriveFolder : kOtherSubstitute;
        }
        return found;
    }
    for (const wchar_t* prefix : kRedirectorPrefixes) {
        if (!BeginsWith(target, prefix)) continue;
        const wchar_t* share = wcschr(target + wcslen(prefix), L'\\');
        if (share) found = {kShare, L"\\", share, found.rest};
        return found;
    }
    return found;  // a local volume
}

bool JoinPathParts(wchar_t* out, size_t capacity, const wchar_t* lead, const wchar_t* base, const wchar_t* rest) {
    size_t leadLength = wcslen(lead);
    size_t baseLength = wcslen(base);
    // A drive substituted to a root ("\??\C:\") would otherwise give "C:\\dir", which names the
    // same folder but no longer matches, as text, the other resolved paths it is compared with.
    if (baseLength > 0 && base[baseLength - 1] == L'\\' && rest[0] == L'\\') ++rest;
    size_t restLength = wcslen(rest);
    if (leadLength + baseLength + restLength >= capacity) {
        out[0] = 0;
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // The rest first: it may lie in `out`.
    memmove(out + leadLength + baseLength, rest, (restLength + 1) * sizeof(wchar_t));
    memcpy(out, lead, leadLength * sizeof(wchar_t));
    memcpy(out + leadLength, base, baseLength * sizeof(wchar_t));
    return true;
}

bool ResolveDrivePath(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (!path || !out || capacity == 0) {
        win.SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!CopyPath(out, capacity, SkipLongPathPrefix(path))) {
        out[0] = 0;
        return false;
    }
    wchar_t target[kDosDeviceChars];
    DriveStandIn standIn = ReadDriveStandIn(path, target);
    if (standIn.kind == kOwnVolume) return true;
    return JoinPathParts(out, capacity, standIn.lead, standIn.base, standIn.rest);
}

bool IsNetworkRoot(const wchar_t* root) { return root[0] && win.GetDriveTypeW(root) == DRIVE_REMOTE; }

bool VolumeRootOf(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (!path || !out || capacity == 0) {
        win.SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    wchar_t root[4] = {};
    DWORD rootAttributes = INVALID_FILE_ATTRIBUTES;
    if (path[0] != 0 && path[1] == L':') {
        root[0] = path[0];
        root[1] = L':';
        root[2] = L'\\';
        rootAttributes = win.GetFileAttributesW(root);
        if (rootAttributes == INVALID_FILE_ATTRIBUTES) return false;
        // The volume behind a network drive cannot be asked for; its drive root stands for it.
        if (win.GetDriveTypeW(root) == DRIVE_REMOTE) return CopyPath(out, capacity, root);
    }

    bool found = win.GetVolumePathNameW(path, out, ClampToDword(capacity));
    if (found && !wmemchr(out, 0, capacity)) {
        found = false;
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!found) {
        if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return CopyPath(out, capacity, root);
        }
        return false;
    }

    // The volume path may be a folder of a volume rather than a root (a substituted or mounted
    // place): go up until the system accepts it as the root of a volume.
    for (;;) {
        // A drive's root is a root whenever its volume answers; the classic call is kept for the
        // folders it must tell from roots, and for its error.
        bool driveRoot = IsAsciiLetter(out[0]) && out[1] == L':' && out[2] == L'\\' && out[3] == 0;
        DWORD flags = 0;
        if (driveRoot && ReadVolumeFlags(out, &flags, nullptr, nullptr, 0)) return true;
        if (win.GetVolumeInformationW(out, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0)) return true;
        if (win.GetLastError() != ERROR_DIR_NOT_ROOT) return false;
        RemoveTrailingChar(out, L'\\');
        wchar_t* parent = wcsrchr(out, L'\\');
        if (!parent) return false;
        parent[1] = 0;
    }
}

bool SourceFileExists(const wchar_t* path) {
    if (!path) {
        win.SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (IsDevicePath(path)) {
        HANDLE device =
            win.CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) return false;
        win.CloseHandle(device);
        return true;
    }

    // A copy of the whole path, however long: one cut short would test another path.
    auto* copy = static_cast<wchar_t*>(AllocZeroed(kPathChars * sizeof(wchar_t)));
    bool exists = false;
    if (CopyPath(copy, kPathChars, path)) {
        // Unquoted first, so that the stream test finds the colon where the name has it.
        win.PathUnquoteSpacesW(copy);
        if (IsStreamOnVolumeWithoutStreams(copy)) {
            win.SetLastError(ERROR_FILE_NOT_FOUND);
        } else {
            win.SetLastError(ERROR_SUCCESS);
            // A file that exists but may not be queried still exists.
            exists =
                win.GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES || win.GetLastError() == ERROR_ACCESS_DENIED;
        }
    }
    DWORD error = win.GetLastError();  // the caller names it; freeing must not replace it
    FreeBlock(copy);
    win.SetLastError(error);
    return exists;
}
