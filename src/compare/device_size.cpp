#include "compare/device_size.h"

#include "platform/win_api.h"
#include "storage/device_queries.h"

uint64_t SizeOfFileOrDevice(HANDLE handle) {
    win.SetLastError(0);
    DWORD high = 0;
    DWORD low = win.GetFileSize(handle, &high);
    DWORD error = win.GetLastError();
    if (error == 0) return (uint64_t{high} << 32) + low;
    // Volumes and disks have no file size; ask the driver for their length.
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION) return 0;
    uint64_t length = 0;
    DWORD lengthError = QueryDiskLength(handle, &length);
    if (lengthError == ERROR_SUCCESS) return length;
    // Floppy drives know only their geometry.
    if (lengthError != ERROR_NOT_SUPPORTED) return 0;
    DISK_GEOMETRY geometry = {};
    DWORD returned = 0;
    if (!win.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry), &returned,
                             nullptr)) {
        return 0;
    }
    if (geometry.MediaType < 1 || geometry.MediaType > 10) return 0;
    uint32_t size = static_cast<uint32_t>(geometry.Cylinders.QuadPart) * geometry.TracksPerCylinder *
                    geometry.SectorsPerTrack * geometry.BytesPerSector;
    return size;
}

uint32_t RoundUp(uint32_t value, uint32_t multiple) { return (value + multiple - 1) & ~(multiple - 1); }
