#include "paths/path_forms.h"

#include <cstring>
#include <cwchar>

#include "paths/path_strings.h"
#include "platform/win_api.h"

namespace {

const wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr size_t kLongPathPrefixLength = 4;

bool TooLong() {
    win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

}  // namespace

bool AddLongPathPrefix(wchar_t* path, size_t capacity) {
    if (!path) return false;
    if (HasLongPathPrefix(path) || IsUncPath(path) || IsDevicePath(path)) return true;
    size_t length = BoundedLength(path, capacity);
    if (length + kLongPathPrefixLength >= capacity) return TooLong();
    memmove(path + kLongPathPrefixLength, path, (length + 1) * sizeof(wchar_t));
    memcpy(path, kLongPathPrefix, kLongPathPrefixLength * sizeof(wchar_t));
    return true;
}

bool VolumeGuidToDevicePath(wchar_t* path) {
    // "\\?\Volume{" + 8-4-4-4-12 hex digits + "}", 48 characters in all.
    constexpr size_t kVolumeNameLength = 48;
    if (BoundedLength(path, kVolumeNameLength + 1) != kVolumeNameLength) return false;
    if (!StartsWithNoCase(path, L"\\\\?\\Volume{")) return false;
    if (path[19] != L'-' || path[24] != L'-' || path[29] != L'-' || path[34] != L'-' || path[47] != L'}') return false;
    path[2] = L'.';
    return true;
}

bool SplitFolderAndMask(const wchar_t* path, wchar_t* folder, wchar_t* mask, size_t folderCapacity,
                        size_t maskCapacity) {
    if (!path || !folder || !mask || folderCapacity == 0 || maskCapacity == 0) {
        win.SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    size_t length = wcslen(path);
    if (IsDevicePath(path) || IsExistingFolder(path)) {
        bool addBackslash = !IsDevicePath(path) && (length == 0 || path[length - 1] != L'\\');
        if (length + (addBackslash ? 1 : 0) >= folderCapacity) return TooLong();
        memcpy(folder, path, length * sizeof(wchar_t));
        if (addBackslash) folder[length++] = L'\\';
        folder[length] = 0;
        mask[0] = 0;
        return true;
    }

    const wchar_t* name = FileNamePart(path);
    if (name == path) {
        win.SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    size_t nameLength = length - static_cast<size_t>(name - path);
    size_t parentLength = static_cast<size_t>(name - path);  // trailing backslash included
    size_t prefixLength = HasLongPathPrefix(path) || IsUncPath(path) ? 0 : kLongPathPrefixLength;
    if (prefixLength + parentLength >= folderCapacity || nameLength >= maskCapacity) return TooLong();
    memcpy(folder, kLongPathPrefix, prefixLength * sizeof(wchar_t));
    memcpy(folder + prefixLength, path, parentLength * sizeof(wchar_t));
    folder[prefixLength + parentLength] = 0;
    memcpy(mask, name, (nameLength + 1) * sizeof(wchar_t));
    return true;
}
