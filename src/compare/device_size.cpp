#include "compare/device_size.h"

#include "platform/win_api.h"
#include "storage/device_queries.h"

namespace {

// Volumes and disks have no file size: their driver tells their length, a floppy drive only its
// geometry.
uint64_t DriverLength(HANDLE handle, bool device) {
    uint64_t length = 0;
    DWORD lengthError = QueryDiskLength(handle, &length);
    if (lengthError == ERROR_SUCCESS && !(device && length == 0)) return length;
    if (lengthError != ERROR_NOT_SUPPORTED) return kSizeUnknown;
    DISK_GEOMETRY geometry = {};
    DWORD returned = 0;
    // A reply that stops short of the sector size tells no length.
    if (!win.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry), &returned,
                             nullptr) ||
        returned < sizeof(geometry)) {
        return kSizeUnknown;
    }
    if (geometry.MediaType < 1 || geometry.MediaType > 10) return kSizeUnknown;
    uint32_t floppy = static_cast<uint32_t>(geometry.Cylinders.QuadPart) * geometry.TracksPerCylinder *
                      geometry.SectorsPerTrack * geometry.BytesPerSector;
    return floppy;
}

}  // namespace

uint64_t SizeOfFileOrDevice(HANDLE handle, bool device) {
    win.SetLastError(0);
    DWORD high = 0;
    DWORD low = win.GetFileSize(handle, &high);
    DWORD error = win.GetLastError();
    uint64_t size = (uint64_t{high} << 32) + low;
    // A device that reports a file size of 0 without an error (a Linux block device under Wine, a
    // driver that has no file size) has told nothing: its driver is asked as for any device.
    if (error == 0 && !(device && size == 0)) return size;
    if (error != 0 && error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION) return kSizeUnknown;
    uint64_t length = DriverLength(handle, device);
    // What the file size query said names the failure better than the driver's answer to a file.
    if (length == kSizeUnknown && error != 0) win.SetLastError(error);
    return length;
}

uint32_t RoundUp(uint32_t value, uint32_t multiple) { return (value + multiple - 1) & ~(multiple - 1); }
