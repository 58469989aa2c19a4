// -lv: every disk volume with its letter or mount mark, its device path for this program, the
// disk that holds it, its bus, size and label, and on a wide console the name of the disk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/disk_description.h"

constexpr size_t kVolumeDevicePathChars = 52;
constexpr size_t kVolumeMountPathChars = 260;
constexpr size_t kVolumeLabelChars = 64;
constexpr size_t kVolumeDiskNameChars = 258;

struct VolumeRecord {
    int32_t diskNumber;                          // -1 when the volume cannot tell
    wchar_t volumeName[kVolumeGuidNameChars];    // \\?\Volume{...} without the backslash
    wchar_t devicePath[kVolumeDevicePathChars];  // \\.\HarddiskVolumeN
    wchar_t mountPath[kVolumeMountPathChars];    // E: or E:\Mount\Data, or empty
    wchar_t label[kVolumeLabelChars];
    wchar_t sizeText[kDiskSizeChars];
    wchar_t name[kVolumeDiskNameChars];  // the disk's vendor and product
    const wchar_t* busWord;
};

// Records in enumeration order; at most as many as the volumes first counted.
struct VolumeList {
    VolumeRecord* records;
    uint32_t count;
    uint32_t longestLabel;  // in characters
};

// Lists the volumes for the width of the console (0 when standard output is redirected).
void ListVolumes();

// Fills `list` from the volumes the system lists. Free it with FreeVolumeList.
void EnumerateVolumes(VolumeList* list);
void FreeVolumeList(VolumeList* list);

// Lettered volumes first in letter order, then the others in enumeration order; volumes of
// 0 bytes are left out. Disk names only when `width` leaves them more than 10 columns.
void PrintVolumeList(const VolumeList* list, int width);
