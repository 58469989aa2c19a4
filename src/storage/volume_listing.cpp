#include "storage/volume_listing.h"

#include <cwchar>
#include <cwctype>

#include "base/memory.h"
#include "console/console_output.h"
#include "console/cursor.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/win_api.h"
#include "storage/device_queries.h"
#include "storage/disk_listing.h"
#include "storage/virtual_disk.h"

namespace {

// Room for the first of a volume's mount paths; VolumeMountPath reads no longer list.
constexpr size_t kFirstMountPathChars = 1024;
// The fixed columns before the label take 52 characters; names start two columns past the
// longest label.
constexpr int kNameColumnBase = 54;
constexpr int kLeastNameColumns = 10;

// Only volumes of hard disks are listed; those of CD-ROM and floppy drives have other devices.
const wchar_t kHarddiskVolumeDevice[] = L"\\Device\\HarddiskVolume";
constexpr size_t kDevicePrefixChars = 8;  // "\Device\"

void CopyCut(wchar_t* out, size_t capacity, const wchar_t* text) {
    size_t length = BoundedLength(text, capacity - 1);
    wmemcpy(out, text, length);
    out[length] = 0;
}

// The record of one volume from its GUID name; false for a volume that is not listed.
bool ReadVolume(const wchar_t* guidName, VolumeRecord* r) {
    wchar_t name[kVolumeGuidNameChars];
    if (!CopyWithoutTrailingBackslash(name, kVolumeGuidNameChars, guidName) || !HasLongPathPrefix(name)) return false;
    wchar_t target[kDosDeviceChars];
    if (!QueryDosTarget(name + 4, target) || !wcsstr(target, kHarddiskVolumeDevice)) return false;
    // A device path that would not fit is not cut into the name of another volume.
    if (wcslen(target) - kDevicePrefixChars + 4 >= kVolumeDevicePathChars) return false;
    win.wsprintfW(r->devicePath, L"\\\\.\\%s", target + kDevicePrefixChars);
    wmemcpy(r->volumeName, name, wcslen(name) + 1);
    wchar_t root[kVolumeGuidNameChars + 1];
    wmemcpy(root, name, wcslen(name) + 1);
    AppendCharIfMissing(root, L'\\', kVolumeGuidNameChars + 1);

    r->diskNumber = DiskNumberOfPath(r->volumeName);
    wchar_t mountPath[kFirstMountPathChars];
    if (VolumeMountPath(root, mountPath, kFirstMountPathChars)) {
        RemoveTrailingChar(mountPath, L'\\');
        // Only the first column is made of it: a folder path cut short still reads as a folder.
        CopyCut(r->mountPath, kVolumeMountPathChars, mountPath);
    }
    HANDLE volume = OpenDevice(r->volumeName, GENERIC_READ);
    if (volume == INVALID_HANDLE_VALUE) {
        r->busWord = kUnopenedBusWord;
    } else {
        DescribeStorageDevice(volume, r->sizeText, &r->busWord, r->name);
        win.CloseHandle(volume);
    }
    if (win.GetVolumeInformationW(root, r->label, kVolumeLabelChars, nullptr, nullptr, nullptr, nullptr, 0)) {
        r->label[kVolumeLabelChars - 1] = 0;
    } else {
        r->label[0] = 0;
    }
    return true;
}

// A drive root such as E:, in either case.
bool HasLetterMount(const VolumeRecord* r) {
    return r->mountPath[0] && r->mountPath[1] == L':' && r->mountPath[2] == 0 && iswalpha(r->mountPath[0]);
}

// A volume of 0 bytes, such as a card reader without a card, is no volume to compare.
bool IsEmptyVolume(const VolumeRecord* r) { return r->sizeText[0] == L'0'; }

void PrintVolumeLine(const VolumeRecord* r, const wchar_t* firstColumn, int nameColumn, int nameChars) {
    PrintOutW(L"%-3s %-22s Disk%-3i %-8s %-7s %s", firstColumn, r->devicePath, r->diskNumber,
              r->busWord ? r->busWord : L"", r->sizeText, r->label);
    if (nameChars <= 0) {
        PrintOutW(L"\n");
        return;
    }
    wchar_t name[kVolumeDiskNameChars];
    CopyCut(name, static_cast<size_t>(nameChars) + 1 < kVolumeDiskNameChars ? nameChars + 1 : kVolumeDiskNameChars,
            r->name);
    SetCursorColumn(nameColumn);
    PrintOutW(L"%s\n", name);
}

}  // namespace

void EnumerateVolumes(VolumeList* list) {
    *list = {};
    wchar_t guid[kVolumeGuidNameChars] = {};
    HANDLE search = win.FindFirstVolumeW(guid, kVolumeGuidNameChars);
    if (search == INVALID_HANDLE_VALUE) return;
    uint32_t counted = 1;
    while (win.FindNextVolumeW(search, guid, kVolumeGuidNameChars)) ++counted;
    win.FindVolumeClose(search);
    list->records = static_cast<VolumeRecord*>(AllocZeroed(static_cast<uint64_t>(counted) * sizeof(VolumeRecord)));

    search = win.FindFirstVolumeW(guid, kVolumeGuidNameChars);
    if (search == INVALID_HANDLE_VALUE) return;
    // A volume that arrives between the two walks finds no room and is left out.
    do {
        guid[kVolumeGuidNameChars - 1] = 0;
        VolumeRecord* r = &list->records[list->count];
        if (!ReadVolume(guid, r)) {
            *r = {};
            continue;
        }
        ++list->count;
        uint32_t labelLength = static_cast<uint32_t>(wcslen(r->label));
        if (labelLength > list->longestLabel) list->longestLabel = labelLength;
    } while (list->count < counted && win.FindNextVolumeW(search, guid, kVolumeGuidNameChars));
    win.FindVolumeClose(search);
}

void FreeVolumeList(VolumeList* list) {
    if (list->records) FreeBlock(list->records);
    *list = {};
}

void PrintVolumeList(const VolumeList* list, int width) {
    int nameColumn = static_cast<int>(list->longestLabel) + kNameColumnBase;
    // The name is cut so that the line ends before the last column and never wraps.
    int nameChars = width - 1 - nameColumn > kLeastNameColumns ? width - nameColumn - 2 : 0;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        for (uint32_t i = 0; i < list->count; ++i) {
            const VolumeRecord* r = &list->records[i];
            if (HasLetterMount(r) && towupper(r->mountPath[0]) == letter && !IsEmptyVolume(r)) {
                PrintVolumeLine(r, r->mountPath, nameColumn, nameChars);
            }
        }
    }
    for (uint32_t i = 0; i < list->count; ++i) {
        const VolumeRecord* r = &list->records[i];
        if (!HasLetterMount(r) && !IsEmptyVolume(r)) {
            PrintVolumeLine(r, r->mountPath[0] ? L"mp" : L"--", nameColumn, nameChars);
        }
    }
}

void ListVolumes() {
    VolumeList list;
    EnumerateVolumes(&list);
    PrintVolumeList(&list, ConsoleWidth());
    FreeVolumeList(&list);
}
