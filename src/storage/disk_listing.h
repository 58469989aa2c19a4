// -ld: every disk of the machine with the device path to give this program, its bus, size and
// name, so that a user can pick the disk for a raw comparison.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/disk_description.h"

constexpr size_t kDiskDevicePathChars = 312;

struct DiskRecord {
    wchar_t devicePath[kDiskDevicePathChars];  // \\.\PhysicalDriveN
    wchar_t sizeText[kDiskSizeChars];
    wchar_t name[kDiskNameChars];
    const wchar_t* busWord;
    int32_t diskNumber;
};

// Records in enumeration order; at most as many as the disk interfaces first counted.
struct DiskList {
    uint32_t count;
    DiskRecord* records;
};

void ListDisks();

// Fills `list` from the disk interfaces that the system lists. Free it with FreeDiskList.
void EnumerateDisks(DiskList* list);
void FreeDiskList(DiskList* list);

// One line per record, in ascending disk-number order; records of one number keep their order.
void PrintDiskList(const DiskList* list);
