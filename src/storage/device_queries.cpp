#include "storage/device_queries.h"

#include <cstring>
#include <cwchar>

#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/drive_identity.h"

namespace {

constexpr size_t kDeviceNumberEnd = offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) + sizeof(DWORD);
constexpr size_t kBusTypeOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType);
constexpr size_t kBusTypeEnd = kBusTypeOffset + sizeof(uint32_t);
constexpr size_t kDescriptorBytes = 1024;
static_assert(kBusTypeOffset == 28);

}  // namespace

bool QueryDosTarget(const wchar_t* deviceName, wchar_t* target) {
    target[0] = 0;
    DWORD stored = win.QueryDosDeviceW(deviceName, target, kDosDeviceChars);
    if (stored == 0) return false;
    // A count beyond the buffer is a lie; only what lies inside it can be read.
    size_t inside = stored < kDosDeviceChars ? stored : kDosDeviceChars;
    if (!wmemchr(target, 0, inside)) {
        target[0] = 0;
        return false;
    }
    return true;
}

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

int32_t QueryDeviceNumber(const wchar_t* volumeName) {
    // The volume device itself is opened, which its name without the trailing backslash names.
    wchar_t device[kTopologyPathChars];
    if (!CopyWithoutTrailingBackslash(device, kTopologyPathChars, volumeName)) return -1;
    HANDLE handle = OpenDevice(device, 0);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                  &returned, nullptr);
    win.CloseHandle(handle);
    // Above the largest drive number the identity would read as a CD-ROM or a floppy drive.
    if (!ok || returned < kDeviceNumberEnd || number.DeviceNumber > static_cast<DWORD>(kLargestDriveNumber)) return -1;
    return static_cast<int32_t>(number.DeviceNumber);
}

bool QueryBusType(const wchar_t* devicePath, uint32_t* busType) {
    wchar_t device[kTopologyPathChars];
    if (!CopyWithoutTrailingBackslash(device, kTopologyPathChars, devicePath)) return false;
    HANDLE handle = OpenDevice(device, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(8) unsigned char descriptor[kDescriptorBytes] = {};
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), descriptor,
                                  sizeof(descriptor), &returned, nullptr);
    win.CloseHandle(handle);
    // The bus type is trusted only when the bytes returned reach past it.
    if (!ok || returned < kBusTypeEnd) return false;
    memcpy(busType, descriptor + kBusTypeOffset, sizeof(*busType));
    return true;
}
