// Conversions between the path forms the program accepts: drive paths, the long-path form
// "\\?\D:\...", device names "\\.\...", volume GUID names and UNC names.
#pragma once

#include <cstddef>

#include "base/types.h"

// In place: "\\?\" in front of a drive path. A path that already has the prefix, a UNC path and
// a device path stay as they are. False, with ERROR_FILENAME_EXCED_RANGE and the path untouched,
// when the prefixed path would not fit `capacity` characters.
bool AddLongPathPrefix(wchar_t* path, size_t capacity = kPathChars);

// In place: "\\?\Volume{GUID}" without a trailing backslash becomes "\\.\Volume{GUID}", the name
// of the volume device itself. False, and the path untouched, for anything else.
bool VolumeGuidToDevicePath(wchar_t* path);

// Takes a command-line path apart into the folder to search and the file mask:
//   a device path: the folder is the path, the mask empty;
//   an existing folder: the folder is the path with a trailing backslash, the mask empty;
//   otherwise the mask is the last component and the folder everything before it, in the
//   long-path form unless it is a UNC path.
// False, with both outputs untouched, for a path without any backslash (ERROR_INVALID_NAME) or
// a result that does not fit its buffer (ERROR_FILENAME_EXCED_RANGE). Neither output may overlap
// `path`.
bool SplitFolderAndMask(const wchar_t* path, wchar_t* folder, wchar_t* mask, size_t folderCapacity = kPathChars,
                        size_t maskCapacity = kPathChars);
