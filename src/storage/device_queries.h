// Small questions put to devices and to the DOS device namespace. Every answer is checked against
// the bytes the system says it returned before anything in it is used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paths/volume_roots.h"
#include "platform/windows.h"

// Path buffers of the storage topology: 260 characters and the terminator. A path that does not
// fit is refused, never cut short into the name of another place.
constexpr size_t kTopologyPathChars = MAX_PATH + 1;

// BusTypeFileBackedVirtual: a disk whose bytes live in a container file.
constexpr uint32_t kBusTypeFileBackedVirtual = 15;

// CreateFileW of an existing device, shared for reading and writing.
HANDLE OpenDevice(const wchar_t* path, DWORD access, DWORD flags = 0);

// Device paths as the disk listing finds them: the interface paths of a detail buffer of 1024
// bytes, longer than the topology's paths.
constexpr size_t kDevicePathChars = 512;

// A volume GUID name, "\\?\Volume{GUID}\" (49 characters), and its terminator, with room to spare.
constexpr size_t kVolumeGuidNameChars = 52;

// The reply buffer of the device-property query: the descriptor and the strings behind it.
constexpr size_t kDescriptorReplyBytes = 1024;

// The disk number and partition number of a device or volume path (one trailing backslash is
// ignored). False, with both -1, when the device cannot tell.
bool QueryDiskAndPartition(const wchar_t* path, int32_t* diskNumber, int32_t* partitionNumber);

// The disk number of a device or volume path, or -1.
int32_t DiskNumberOfPath(const wchar_t* path);

// The number of the disk that holds the volume `volumeName` (a volume GUID name, with or without
// its trailing backslash), or -1; at most the largest number a drive identity can hold.
int32_t QueryDeviceNumber(const wchar_t* volumeName);

// IOCTL_STORAGE_QUERY_PROPERTY for the device descriptor of an open device, into `reply` of
// kDescriptorReplyBytes. The number of bytes returned; 0 when the device does not answer.
DWORD QueryDeviceDescriptor(HANDLE device, unsigned char* reply);

// The bus type of the device `devicePath` (a trailing backslash is ignored).
bool QueryBusType(const wchar_t* devicePath, uint32_t* busType);

// Whether the disk `diskNumber` (\\.\PhysicalDriveN) moves a head to reach data: a rotating disk.
// False, and `*answered` (where given) false, when it does not say (Wine, older drivers).
bool DiskHasSeekPenalty(int32_t diskNumber, bool* answered = nullptr);

// IOCTL_DISK_GET_LENGTH_INFO on an open disk or volume. ERROR_SUCCESS with `*length` when the
// reply holds the whole length; ERROR_INVALID_DATA for a shorter reply; else the call's error.
DWORD QueryDiskLength(HANDLE device, uint64_t* length);

// Copies a path of at most `capacity` - 1 characters and drops one trailing backslash. False,
// with `out` empty, when it does not fit.
bool CopyWithoutTrailingBackslash(wchar_t* out, size_t capacity, const wchar_t* path);
