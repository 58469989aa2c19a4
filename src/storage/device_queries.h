// Small questions put to devices and to the DOS device namespace. Every answer is checked against
// the bytes the system says it returned before anything in it is used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"

// Path buffers of the storage topology: 260 characters and the terminator. A path that does not
// fit is refused, never cut short into the name of another place.
constexpr size_t kTopologyPathChars = MAX_PATH + 1;

// BusTypeFileBackedVirtual: a disk whose bytes live in a container file.
constexpr uint32_t kBusTypeFileBackedVirtual = 15;

// QueryDosDeviceW of `deviceName` into `target` (kDosDeviceChars characters). True only when the
// answer's first name ends inside the buffer.
bool QueryDosTarget(const wchar_t* deviceName, wchar_t* target);

// CreateFileW of an existing device, shared for reading and writing.
HANDLE OpenDevice(const wchar_t* path, DWORD access, DWORD flags = 0);

// The number of the disk that holds the volume `volumeName` (a volume GUID name, with or without
// its trailing backslash), or -1.
int32_t QueryDeviceNumber(const wchar_t* volumeName);

// The bus type of the device `devicePath` (a trailing backslash is ignored).
bool QueryBusType(const wchar_t* devicePath, uint32_t* busType);

// Copies a path of at most `capacity` - 1 characters and drops one trailing backslash. False,
// with `out` empty, when it does not fit.
bool CopyWithoutTrailingBackslash(wchar_t* out, size_t capacity, const wchar_t* path);
