#include "storage/device_queries.h"

#include <cstring>
#include <cwchar>

#include "base/scoped_handles.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"

namespace {

constexpr size_t kDeviceNumberEnd = offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) + sizeof(DWORD);
constexpr size_t kPartitionNumberEnd = offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) + sizeof(DWORD);
constexpr size_t kBusTypeOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType);
constexpr size_t kBusTypeEnd = kBusTypeOffset + sizeof(uint32_t);
static_assert(kBusTypeOffset == 28);
constexpr size_t kSeekPenaltyEnd = offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty) + sizeof(BOOLEAN);

}  // namespace

HANDLE OpenDevice(const wchar_t* path, DWORD access, DWORD flags) {
    return win.CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool CopyWithoutTrailingBackslash(wchar_t* out, size_t capacity, const wchar_t* path) {
    if (!CopyPath(out, capacity, path)) {
        out[0] = 0;
        return false;
    }
    RemoveTrailingChar(out, L'\\');
    return true;
}

bool QueryDiskAndPartition(const wchar_t* path, int32_t* diskNumber, int32_t* partitionNumber) {
    *diskNumber = *partitionNumber = -1;
    // Opening a floppy drive makes it spin up and seek; it is no disk of the listings anyway.
    if (!path || path[0] == 0 || wcsstr(path, L"Floppy")) return false;
    wchar_t device[kDevicePathChars];
    if (!CopyWithoutTrailingBackslash(device, kDevicePathChars, path)) return false;
    ScopedHandle handle(OpenDevice(device, 0));
    if (!handle.valid()) return false;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(handle.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                  &returned, nullptr);
    // Numbers count only where the reply reaches; one beyond 31 bits would read as negative.
    if (!ok || returned < kDeviceNumberEnd || number.DeviceNumber > 0x7FFFFFFF) return false;
    *diskNumber = static_cast<int32_t>(number.DeviceNumber);
    if (returned >= kPartitionNumberEnd && number.PartitionNumber <= 0x7FFFFFFF) {
        *partitionNumber = static_cast<int32_t>(number.PartitionNumber);
    }
    return true;
}

int32_t DiskNumberOfPath(const wchar_t* path) {
    int32_t disk, partition;
    QueryDiskAndPartition(path, &disk, &partition);
    return disk;
}

int32_t QueryDeviceNumber(const wchar_t* volumeName) {
    // Above the largest drive number the identity would read as a CD-ROM or a floppy drive.
    int32_t number = DiskNumberOfPath(volumeName);
    return number <= kLargestDriveNumber ? number : -1;
}

DWORD QueryDeviceDescriptor(HANDLE device, unsigned char* reply) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    DWORD returned = 0;
    if (!win.DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), reply, kDescriptorReplyBytes,
                             &returned, nullptr)) {
        return 0;
    }
    return returned;
}

bool DiskHasSeekPenalty(int32_t diskNumber, bool* answered) {
    bool told = false;
    if (!answered) answered = &told;
    *answered = false;
    if (diskNumber < 0) return false;
    wchar_t path[40];
    win.wsprintfW(path, L"\\\\.\\PhysicalDrive%d", diskNumber);
    ScopedHandle handle(OpenDevice(path, 0));
    if (!handle.valid()) return false;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR reply = {};
    DWORD returned = 0;
    if (!win.DeviceIoControl(handle.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &reply, sizeof(reply),
                             &returned, nullptr) ||
        returned < kSeekPenaltyEnd) {
        return false;
    }
    *answered = true;
    return reply.IncursSeekPenalty != 0;
}

bool QueryBusType(const wchar_t* devicePath, uint32_t* busType) {
    wchar_t device[kTopologyPathChars];
    if (!CopyWithoutTrailingBackslash(device, kTopologyPathChars, devicePath)) return false;
    ScopedHandle handle(OpenDevice(device, 0));
    if (!handle.valid()) return false;
    alignas(8) unsigned char descriptor[kDescriptorReplyBytes] = {};
    DWORD returned = QueryDeviceDescriptor(handle.get(), descriptor);
    // The bus type is trusted only when the bytes returned reach past it.
    if (returned < kBusTypeEnd) return false;
    memcpy(busType, descriptor + kBusTypeOffset, sizeof(*busType));
    return true;
}

DWORD QueryDiskLength(HANDLE device, uint64_t* length) {
    GET_LENGTH_INFORMATION info = {};
    DWORD returned = 0;
    if (!win.DeviceIoControl(device, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof(info), &returned, nullptr)) {
        return win.GetLastError();
    }
    if (returned < sizeof(info)) return ERROR_INVALID_DATA;
    *length = static_cast<uint64_t>(info.Length.QuadPart);
    return ERROR_SUCCESS;
}
