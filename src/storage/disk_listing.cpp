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

constexpr size_t kInterfaceDetailBytes = kDevicePathChars * sizeof(wchar_t);

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
