#include "storage/disk_listing.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "console/console_output.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"

namespace {

// GUID_DEVINTERFACE_DISK.
const GUID kDiskInterfaceClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr size_t kInterfaceDetailBytes = 1024;
// Interface paths live in a detail buffer of kInterfaceDetailBytes, so this many characters hold any.
constexpr size_t kInterfacePathChars = kInterfaceDetailBytes / sizeof(wchar_t);

constexpr size_t kPartitionNumberEnd = offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) + sizeof(DWORD);
constexpr size_t kDeviceNumberEnd = offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) + sizeof(DWORD);

bool EnumerateInterface(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* item) {
    memset(item, 0, sizeof(*item));
    item->cbSize = sizeof(*item);
    return win.SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskInterfaceClass, index, item);
}

// The record of one disk interface; false when the interface names no disk.
bool ReadDiskInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* item, DiskRecord* record) {
    alignas(8) unsigned char detailBytes[kInterfaceDetailBytes] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBytes);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    if (!win.SetupDiGetDeviceInterfaceDetailW(set, item, detail, sizeof(detailBytes), nullptr, &info)) return false;
    size_t room = (sizeof(detailBytes) - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    if (!wmemchr(detail->DevicePath, 0, room)) return false;
    int32_t number = DiskNumberOfPath(detail->DevicePath);
    if (number < 0) return false;

    record->diskNumber = number;
    win.wsprintfW(record->devicePath, L"\\\\.\\PhysicalDrive%i", number);
    HANDLE disk = OpenDevice(record->devicePath, GENERIC_READ);
    if (disk == INVALID_HANDLE_VALUE) {
        record->busWord = kUnopenedBusWord;
        return true;
    }
    DescribeStorageDevice(disk, record->sizeText, &record->busWord, record->name);
    win.CloseHandle(disk);
    return true;
}

void PrintDiskRecord(const DiskRecord* r) {
    PrintOutW(L"Disk%-4i %-21s %-8s %-7s %s\n", r->diskNumber, r->devicePath, r->busWord ? r->busWord : L"",
              r->sizeText, r->name);
}

}  // namespace

bool QueryDiskAndPartition(const wchar_t* path, int32_t* diskNumber, int32_t* partitionNumber) {
    *diskNumber = *partitionNumber = -1;
    // Opening a floppy drive makes it spin up and seek; it is no disk of the listings anyway.
    if (!path || path[0] == 0 || wcsstr(path, L"Floppy")) return false;
    wchar_t device[kInterfacePathChars];
    if (!CopyWithoutTrailingBackslash(device, kInterfacePathChars, path)) return false;
    HANDLE handle = OpenDevice(device, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    BOOL ok = win.DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                  &returned, nullptr);
    win.CloseHandle(handle);
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

void EnumerateDisks(DiskList* list) {
    *list = {};
    HDEVINFO set =
        win.SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA item;
    uint32_t counted = 0;
    while (EnumerateInterface(set, counted, &item)) ++counted;
    if (counted > 0) {
        list->records = static_cast<DiskRecord*>(AllocZeroed(static_cast<uint64_t>(counted) * sizeof(DiskRecord)));
        // A disk that arrives between the two passes finds no room and is left out.
        for (DWORD index = 0; list->count < counted && EnumerateInterface(set, index, &item); ++index) {
            if (ReadDiskInterface(set, &item, &list->records[list->count])) ++list->count;
        }
    }
    win.SetupDiDestroyDeviceInfoList(set);
}

void FreeDiskList(DiskList* list) {
    if (list->records) FreeBlock(list->records);
    *list = {};
}

void PrintDiskList(const DiskList* list) {
    // A selection by ascending number, so the work depends on the records, not on how large
    // the numbers are.
    int64_t printed = -1;
    for (;;) {
        int64_t next = INT64_MAX;
        for (uint32_t i = 0; i < list->count; ++i) {
            int64_t number = list->records[i].diskNumber;
            if (number > printed && number < next) next = number;
        }
        if (next == INT64_MAX) return;
        for (uint32_t i = 0; i < list->count; ++i) {
            if (list->records[i].diskNumber == next) PrintDiskRecord(&list->records[i]);
        }
        printed = next;
    }
}

void ListDisks() {
    DiskList list;
    EnumerateDisks(&list);
    PrintDiskList(&list);
    FreeDiskList(&list);
}
