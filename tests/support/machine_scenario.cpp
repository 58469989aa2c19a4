#include "support/machine_scenario.h"

#include <virtdisk.h>
#include <cstring>
#include <cwchar>

#include "base/os_version.h"
#include "storage/encrypted_volumes.h"
#include "storage/virtual_disk.h"
#include "support/strict_seam.h"

namespace {

MachineScenario* active = nullptr;

const HANDLE kFirstHandle = reinterpret_cast<HANDLE>(0x10000);
const HANDLE kVolumeSearch = reinterpret_cast<HANDLE>(0x5150);
const HDEVINFO kDiskClassSet = reinterpret_cast<HDEVINFO>(0x5e70);
const GUID kDiskClass = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const HMODULE kVirtDiskModule = reinterpret_cast<HMODULE>(0x7d000000);
const wchar_t* const kDriverDevices[] = {L"\\\\.\\TrueCrypt", L"\\\\.\\VeraCrypt"};
const wchar_t* const kDriverVolumeDevices[] = {L"\\Device\\TrueCryptVolume", L"\\Device\\VeraCryptVolume"};

struct OpenHandle {
    std::wstring path;
    bool open;
};
std::vector<OpenHandle> handles;
size_t searchPosition = 0;

bool SameNoCase(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring Str(const wchar_t* text) { return text ? text : L""; }

std::wstring WithoutBackslash(std::wstring text) {
    if (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

// "\\?\Volume{...}\" without the prefix and the backslash, as QueryDosDeviceW is asked.
std::wstring DosNameOf(const std::wstring& guid) { return WithoutBackslash(guid.substr(4)); }

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Writes a terminated string into a caller buffer of `chars` characters.
BOOL WriteString(const std::wstring& text, wchar_t* out, DWORD chars) {
    if (text.size() + 1 > chars) return Fail(ERROR_FILENAME_EXCED_RANGE);
    wmemcpy(out, text.c_str(), text.size() + 1);
    return TRUE;
}

const std::wstring* HandlePath(HANDLE handle) {
    size_t index = reinterpret_cast<size_t>(handle) - reinterpret_cast<size_t>(kFirstHandle);
    if (reinterpret_cast<size_t>(handle) < reinterpret_cast<size_t>(kFirstHandle) || index >= handles.size() ||
        !handles[index].open) {
        return nullptr;
    }
    return &handles[index].path;
}

// The device a disk interface path opens, or the path itself.
std::wstring DeviceBehind(const std::wstring& path) {
    for (const FakeDiskInterface& i : active->diskInterfaces)
        if (SameNoCase(path, i.path)) return i.device;
    return path;
}

bool Openable(const std::wstring& path) {
    if (active->devices.count(path)) return true;
    for (int d = 0; d < 2; ++d)
        if (active->driverPresent[d] && SameNoCase(path, kDriverDevices[d])) return true;
    for (const FakeVolume& v : active->volumes)
        if (SameNoCase(path, WithoutBackslash(v.guid))) return true;
    return false;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    std::wstring name = DeviceBehind(Str(path));
    if (!Openable(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (access & GENERIC_READ) {
        for (const std::wstring& refused : active->refuseReadAccess) {
            if (SameNoCase(refused, name)) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
        }
    }
    handles.push_back({name, true});
    active->opened.push_back(name);
    ++active->openHandles;
    return reinterpret_cast<HANDLE>(reinterpret_cast<size_t>(kFirstHandle) + handles.size() - 1);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    if (!HandlePath(handle)) return Fail(ERROR_INVALID_HANDLE);
    handles[reinterpret_cast<size_t>(handle) - reinterpret_cast<size_t>(kFirstHandle)].open = false;
    --active->openHandles;
    return TRUE;
}

template <typename Record>
BOOL Reply(const Record& record, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (outSize < sizeof(record)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(out, &record, sizeof(record));
    *returned = sizeof(record);
    return TRUE;
}

BOOL LengthReply(const std::optional<int64_t>& length, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (!length) return Fail(ERROR_INVALID_FUNCTION);
    GET_LENGTH_INFORMATION info = {};
    info.Length.QuadPart = *length;
    return Reply(info, out, outSize, returned);
}

// A property descriptor as a storage driver answers it: a buffer that holds the header gets what
// fits, the header's Size telling the whole; no buffer at all only asks whether the property exists.
BOOL PropertyReply(const void* descriptor, size_t bytes, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (outSize == 0) return TRUE;
    if (outSize < sizeof(STORAGE_DESCRIPTOR_HEADER)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    *returned = static_cast<DWORD>(bytes < outSize ? bytes : outSize);
    memcpy(out, descriptor, *returned);
    return TRUE;
}

// The published descriptor followed by the vendor and product strings, as a disk driver writes it.
BOOL DescriptorReply(const FakeDevice& d, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    STORAGE_PROPERTY_QUERY query = {};
    if (inSize < sizeof(query)) return Fail(ERROR_INVALID_PARAMETER);
    memcpy(&query, in, sizeof(query));
    if (query.PropertyId == StorageDeviceSeekPenaltyProperty && query.QueryType == PropertyStandardQuery &&
        d.seekPenalty) {
        DEVICE_SEEK_PENALTY_DESCRIPTOR penalty = {sizeof penalty, sizeof penalty, *d.seekPenalty};
        return PropertyReply(&penalty, sizeof penalty, out, outSize, returned);
    }
    if (query.PropertyId != StorageDeviceProperty || query.QueryType != PropertyStandardQuery || d.refuseProperty) {
        return Fail(ERROR_NOT_SUPPORTED);
    }
    std::vector<unsigned char> bytes(sizeof(STORAGE_DEVICE_DESCRIPTOR));
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    descriptor.Version = sizeof(descriptor);
    descriptor.BusType = static_cast<STORAGE_BUS_TYPE>(d.busType);
    for (const auto& [text, offset] :
         {std::pair{&d.vendor, &descriptor.VendorIdOffset}, std::pair{&d.product, &descriptor.ProductIdOffset}}) {
        if (text->empty()) continue;
        *offset = static_cast<DWORD>(bytes.size());
        bytes.insert(bytes.end(), text->begin(), text->end());
        bytes.push_back(0);
    }
    descriptor.Size = static_cast<DWORD>(bytes.size());
    memcpy(bytes.data(), &descriptor, sizeof(descriptor));
    return PropertyReply(bytes.data(), bytes.size(), out, outSize, returned);
}

const FakeDevice* DiskOfVolume(const FakeVolume& v) {
    if (v.disk < 0) return nullptr;
    auto found = active->devices.find(L"\\\\.\\PhysicalDrive" + std::to_wstring(v.disk));
    return found == active->devices.end() ? nullptr : &found->second;
}

BOOL MountListReply(int driver, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (in != out || inSize != kMountListBytes || outSize != kMountListBytes) return Fail(ERROR_INVALID_PARAMETER);
    auto* list = static_cast<unsigned char*>(out);
    memset(list, 0, kMountListBytes);
    uint32_t mask = 0;
    for (const auto& [letter, host] : active->mountLists[driver]) {
        int index = letter - L'A';
        mask |= 1u << index;
        size_t chars = host.size() < kMountListEntryChars - 1 ? host.size() : kMountListEntryChars - 1;
        memcpy(list + kMountListEntriesOffset + index * kMountListEntryChars * 2, host.c_str(), chars * 2);
    }
    memcpy(list, &mask, sizeof(mask));
    *returned = kMountListBytes;
    return TRUE;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED) {
    const std::wstring* path = HandlePath(handle);
    if (!path) return Fail(ERROR_INVALID_HANDLE);
    *returned = 0;
    if (!strict::ControlBuffersFit(code, in, inSize, outSize)) return FALSE;
    if (active->rawControlReply) {
        if (std::optional<RawReply> raw = active->rawControlReply(*path, code)) {
            if (!raw->ok) return Fail(ERROR_INVALID_FUNCTION);
            memcpy(out, raw->bytes.data(), raw->bytes.size() < outSize ? raw->bytes.size() : outSize);
            *returned = raw->returned;
            return TRUE;
        }
    }
    for (int d = 0; d < 2; ++d) {
        if (SameNoCase(*path, kDriverDevices[d])) {
            if (code != kMountListControlCode) return Fail(ERROR_INVALID_FUNCTION);
            return MountListReply(d, in, inSize, out, outSize, returned);
        }
    }
    auto device = active->devices.find(*path);
    if (device != active->devices.end()) {
        const FakeDevice& d = device->second;
        if (code == IOCTL_STORAGE_GET_DEVICE_NUMBER)
            return Reply(STORAGE_DEVICE_NUMBER{7, d.number, 0}, out, outSize, returned);
        if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
            if (d.refuseGeometry) return Fail(ERROR_NOT_SUPPORTED);
            DISK_GEOMETRY geometry = {};
            geometry.Cylinders.QuadPart = 10000;
            geometry.MediaType = FixedMedia;
            geometry.TracksPerCylinder = 255;
            geometry.SectorsPerTrack = 63;
            geometry.BytesPerSector = d.bytesPerSector;
            return Reply(geometry, out, outSize, returned);
        }
        if (code == IOCTL_STORAGE_QUERY_PROPERTY) return DescriptorReply(d, in, inSize, out, outSize, returned);
        if (code == IOCTL_DISK_GET_LENGTH_INFO) return LengthReply(d.length, out, outSize, returned);
        return Fail(ERROR_INVALID_FUNCTION);
    }
    for (const FakeVolume& v : active->volumes) {
        if (!SameNoCase(*path, WithoutBackslash(v.guid))) continue;
        // A volume answers the property query with the descriptor of its disk.
        const FakeDevice* disk = DiskOfVolume(v);
        if (code == IOCTL_STORAGE_QUERY_PROPERTY && disk)
            return DescriptorReply(*disk, in, inSize, out, outSize, returned);
        if (code == IOCTL_DISK_GET_LENGTH_INFO) return LengthReply(v.length, out, outSize, returned);
        if (code != IOCTL_STORAGE_GET_DEVICE_NUMBER || v.disk < 0) return Fail(ERROR_INVALID_FUNCTION);
        return Reply(STORAGE_DEVICE_NUMBER{7, static_cast<DWORD>(v.disk), 1}, out, outSize, returned);
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL WINAPI FakeGetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR name, DWORD chars) {
    if (!strict::VolumeGuidPathFits("GetVolumeNameForVolumeMountPointW", chars)) return FALSE;
    if (active->rawVolumeNameReply) return active->rawVolumeNameReply(name, chars);
    auto found = active->mountPoints.find(Str(mountPoint));
    if (found == active->mountPoints.end()) return Fail(ERROR_NOT_A_REPARSE_POINT);
    return WriteString(found->second, name, chars);
}

DWORD WINAPI FakeGetLogicalDrives() {
    DWORD mask = 0;
    for (const auto& [device, target] : active->paths.dosDevices) {
        if (device.size() == 2 && device[1] == L':') mask |= 1u << (towupper(device[0]) - L'A');
    }
    return mask;
}

BOOL NextVolume(LPWSTR name, DWORD chars) {
    if (searchPosition >= active->volumes.size()) return Fail(ERROR_NO_MORE_FILES);
    return WriteString(active->volumes[searchPosition++].guid, name, chars);
}

HANDLE WINAPI FakeFindFirstVolumeW(LPWSTR name, DWORD chars) {
    if (!strict::VolumeGuidPathFits("FindFirstVolumeW", chars)) return INVALID_HANDLE_VALUE;
    searchPosition = 0;
    if (!NextVolume(name, chars)) return INVALID_HANDLE_VALUE;
    ++active->openSearches;
    return kVolumeSearch;
}

BOOL WINAPI FakeFindNextVolumeW(HANDLE search, LPWSTR name, DWORD chars) {
    if (search != kVolumeSearch) return Fail(ERROR_INVALID_HANDLE);
    if (!strict::VolumeGuidPathFits("FindNextVolumeW", chars)) return FALSE;
    return NextVolume(name, chars);
}

BOOL WINAPI FakeFindVolumeClose(HANDLE search) {
    if (search != kVolumeSearch) return Fail(ERROR_INVALID_HANDLE);
    --active->openSearches;
    return TRUE;
}

BOOL WINAPI FakeGetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                                  LPDWORD clusters) {
    FakeVolume* volume = active->VolumeAt(Str(root));
    if (!volume) return Fail(ERROR_PATH_NOT_FOUND);
    *sectorsPerCluster = 8;
    *bytesPerSector = volume->bytesPerSector;
    *freeClusters = 1000;
    *clusters = 2000;
    return TRUE;
}

BOOL WINAPI FakeGetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWCH names, DWORD chars, PDWORD length) {
    if (active->rawMountPathsReply) return active->rawMountPathsReply(names, chars);
    FakeVolume* volume = active->VolumeByGuid(Str(volumeName));
    if (!volume) return Fail(ERROR_INVALID_NAME);
    std::wstring list;
    for (const std::wstring& path : volume->mountPaths) list += path + L'\0';
    list += L'\0';
    *length = static_cast<DWORD>(list.size());
    // A buffer too small for the list gets as much of it as fits.
    wmemcpy(names, list.data(), list.size() < chars ? list.size() : chars);
    if (list.size() > chars) return Fail(ERROR_MORE_DATA);
    return TRUE;
}

// The published record, so that what the program reads is checked against the real layout.
DWORD WINAPI FakeGetStorageDependencyInformation(HANDLE handle, GET_STORAGE_DEPENDENCY_FLAG flags, ULONG size,
                                                 PSTORAGE_DEPENDENCY_INFO info, PULONG sizeUsed) {
    active->dependencySizes.push_back(size);
    if (active->rawDependencyReply) {
        return active->rawDependencyReply(size, reinterpret_cast<unsigned char*>(info), sizeUsed);
    }
    const std::wstring* path = HandlePath(handle);
    if (!path) return ERROR_INVALID_HANDLE;
    if (flags != (GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES | GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE)) {
        return ERROR_INVALID_PARAMETER;
    }
    auto found = active->dependencies.find(*path);
    if (found == active->dependencies.end()) return ERROR_NOT_SUPPORTED;
    if (size < 8 || info->Version != STORAGE_DEPENDENCY_INFO_VERSION_2) return ERROR_INVALID_PARAMETER;
    const FakeDependency& d = found->second;
    size_t strings = (d.host.size() + 1 + d.relativePath.size() + 1) * sizeof(wchar_t);
    ULONG need = static_cast<ULONG>(sizeof(STORAGE_DEPENDENCY_INFO) + strings);
    if (d.needBytes > need) need = d.needBytes;
    if (size < need) {
        *sizeUsed = need;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    info->NumberEntries = 1;
    STORAGE_DEPENDENCY_INFO_TYPE_2& entry = info->Version2Entries[0];
    auto* text = reinterpret_cast<wchar_t*>(&info->Version2Entries[1]);
    wmemcpy(text, d.host.c_str(), d.host.size() + 1);
    entry.HostVolumeName = text;
    text += d.host.size() + 1;
    wmemcpy(text, d.relativePath.c_str(), d.relativePath.size() + 1);
    entry.DependentVolumeRelativePath = text;
    *sizeUsed = need;
    return ERROR_SUCCESS;
}

decltype(&GetVolumeInformationW) pathsVolumeInformation = nullptr;

// The label of a listed volume, then the answers of the paths layer.
BOOL WINAPI FakeGetVolumeInformationW(LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD serial,
                                      LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem, DWORD fileSystemChars) {
    if (!pathsVolumeInformation(root, nullptr, 0, serial, maxComponent, flags, fileSystem, fileSystemChars)) {
        return FALSE;
    }
    if (label) {
        FakeVolume* volume = active->VolumeByGuid(Str(root));
        std::wstring text = volume ? volume->label : L"";
        if (text.size() + 1 > labelChars) return Fail(ERROR_BAD_LENGTH);
        wmemcpy(label, text.c_str(), text.size() + 1);
    }
    return TRUE;
}

HDEVINFO WINAPI FakeSetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    if (active->diskClassFails) {
        SetLastError(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    if (!classGuid || memcmp(classGuid, &kDiskClass, sizeof(GUID)) != 0 || enumerator ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ++active->openDeviceSets;
    return kDiskClassSet;
}

BOOL WINAPI FakeSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* classGuid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
    if (set != kDiskClassSet || !data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!classGuid || memcmp(classGuid, &kDiskClass, sizeof(GUID)) != 0 || index >= active->diskInterfaces.size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = kDiskClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI FakeSetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                                                 PSP_DEVINFO_DATA info) {
    if (set != kDiskClassSet || !data || data->Reserved == 0 || data->Reserved > active->diskInterfaces.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const FakeDiskInterface& item = active->diskInterfaces[data->Reserved - 1];
    if (item.refuseDetail) return Fail(ERROR_NOT_FOUND);
    DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                    (item.path.size() + 1) * sizeof(wchar_t));
    if (required) *required = need;
    if (info && info->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (!detail || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (size < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
    wmemcpy(detail->DevicePath, item.path.c_str(), item.path.size() + 1);
    return TRUE;
}

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (set != kDiskClassSet) return Fail(ERROR_INVALID_HANDLE);
    --active->openDeviceSets;
    return TRUE;
}

HMODULE WINAPI FakeLoadLibraryA(LPCSTR name) {
    size_t length = name ? strlen(name) : 0;
    if (length >= 12 && _stricmp(name + length - 12, "VirtDisk.dll") == 0) {
        if (active->virtDiskPresent) return kVirtDiskModule;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryA(name);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    bool byName = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
    if (module == kVirtDiskModule) {
        if (byName && active->virtDiskHasQuery && strcmp(name, "GetStorageDependencyInformation") == 0) {
            return reinterpret_cast<FARPROC>(FakeGetStorageDependencyInformation);
        }
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (byName && strcmp(name, "GetVolumePathNamesForVolumeNameW") == 0) {
        return reinterpret_cast<FARPROC>(FakeGetVolumePathNamesForVolumeNameW);
    }
    return GetProcAddress(module, name);
}

FakeDevice MakeDevice(DWORD number, DWORD busType, DWORD bytesPerSector) {
    FakeDevice device;
    device.number = number;
    device.busType = busType;
    device.bytesPerSector = bytesPerSector;
    return device;
}

std::wstring GuidFor(size_t index) {
    wchar_t guid[64];
    swprintf(guid, 64, L"\\\\?\\Volume{%08x-0000-4000-8000-%012x}\\", static_cast<unsigned>(index + 1),
             static_cast<unsigned>(index + 0xa0));
    return guid;
}

// Every root form a path may reach the system in: as mounted and behind "\\?\".
std::vector<std::wstring> RootForms(const std::wstring& mountPath) { return {mountPath, L"\\\\?\\" + mountPath}; }

}  // namespace

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

MachineScenario& MachineScenario::Disk(DWORD number, DWORD busType, DWORD bytesPerSector) {
    std::wstring n = std::to_wstring(number);
    std::wstring device = L"\\\\.\\PhysicalDrive" + n;
    if (!devices.count(device)) {
        diskInterfaces.push_back(
            {L"\\\\?\\scsi#disk&ven_qvb&prod_test#4&1c2b3a&0&00000" + n + L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
             device});
    }
    devices[device] = MakeDevice(number, busType, bytesPerSector);
    paths.dosDevices[L"PhysicalDrive" + n] = L"\\Device\\Harddisk" + n + L"\\DR" + n;
    return *this;
}

FakeDevice& MachineScenario::DiskDevice(DWORD number) {
    return devices.at(L"\\\\.\\PhysicalDrive" + std::to_wstring(number));
}

MachineScenario& MachineScenario::CdRom(wchar_t letter, DWORD number) {
    std::wstring n = std::to_wstring(number);
    devices[L"\\\\.\\CdRom" + n] = MakeDevice(number, 2 /* ATAPI */, 2048);
    Volume(std::wstring(1, letter) + L":\\", static_cast<int>(number), DRIVE_CDROM, L"\\Device\\CdRom" + n);
    return *this;
}

MachineScenario& MachineScenario::Floppy(wchar_t letter, DWORD number) {
    std::wstring n = std::to_wstring(number);
    devices[L"\\\\.\\Floppy" + n] = MakeDevice(number, 0 /* unknown */, 512);
    Volume(std::wstring(1, letter) + L":\\", static_cast<int>(number), DRIVE_REMOVABLE, L"\\Device\\Floppy" + n);
    return *this;
}

FakeVolume& MachineScenario::Volume(const std::wstring& mountPath, int disk, UINT type, const std::wstring& device) {
    FakeVolume volume;
    volume.guid = GuidFor(volumes.size());
    volume.device = device.empty() ? L"\\Device\\HarddiskVolume" + std::to_wstring(volumes.size() + 1) : device;
    volume.disk = disk;
    volume.type = type;
    paths.dosDevices[DosNameOf(volume.guid)] = volume.device;
    paths.driveTypes[volume.guid] = type;
    paths.volumes[volume.guid] = 0;
    paths.attributes[volume.guid] = FILE_ATTRIBUTE_DIRECTORY;
    mountPoints[volume.guid] = volume.guid;
    volumes.push_back(volume);
    if (!mountPath.empty()) Mount(L"", mountPath);
    return volumes.back();
}

MachineScenario& MachineScenario::Mount(const std::wstring& mountPath, const std::wstring& another) {
    FakeVolume& volume = mountPath.empty() ? volumes.back() : *VolumeAt(mountPath);
    volume.mountPaths.push_back(another);
    for (const std::wstring& root : RootForms(another)) {
        paths.driveTypes[root] = volume.type;
        paths.volumes[root] = 0;
        paths.attributes[root] = FILE_ATTRIBUTE_DIRECTORY;
        mountPoints[root] = volume.guid;
    }
    if (another.size() == 3) paths.dosDevices[another.substr(0, 2)] = volume.device;
    return *this;
}

MachineScenario& MachineScenario::Subst(wchar_t letter, const std::wstring& folder) {
    paths.dosDevices[std::wstring(1, letter) + L":"] = L"\\??\\" + folder;
    return *this;
}

MachineScenario& MachineScenario::Network(wchar_t letter, const std::wstring& share) {
    std::wstring drive = std::wstring(1, letter) + L":";
    paths.dosDevices[drive] = L"\\Device\\LanmanRedirector\\;" + drive + L"0000000000034a1f" + share.substr(1);
    for (const std::wstring& root : RootForms(drive + L"\\")) {
        paths.driveTypes[root] = DRIVE_REMOTE;
        paths.volumes[root] = 0;
        paths.attributes[root] = FILE_ATTRIBUTE_DIRECTORY;
    }
    for (const std::wstring& root : {share + L"\\", L"\\\\?\\UNC" + share.substr(1) + L"\\"}) {
        paths.driveTypes[root] = DRIVE_REMOTE;
        paths.volumes[root] = 0;
    }
    return *this;
}

MachineScenario& MachineScenario::Encrypted(EncryptionDriver driver, wchar_t letter, const std::wstring& host) {
    driverPresent[driver] = true;
    mountLists[driver][letter] = host;
    std::wstring root = std::wstring(1, letter) + L":\\";
    // The driver's volume device cannot tell its disk: only the mount list knows the host.
    if (!VolumeAt(root)) Volume(root, -1, DRIVE_FIXED, kDriverVolumeDevices[driver] + std::wstring(1, letter));
    return *this;
}

MachineScenario& MachineScenario::VirtualDisk(DWORD disk, const std::wstring& host, const std::wstring& relativePath) {
    std::wstring device = L"\\\\.\\PhysicalDrive" + std::to_wstring(disk);
    if (!devices.count(device)) Disk(disk);
    devices[device].busType = BusTypeFileBackedVirtual;
    dependencies[device] = {host, relativePath};
    return *this;
}

FakeVolume* MachineScenario::VolumeAt(const std::wstring& mountPath) {
    for (FakeVolume& v : volumes)
        for (const std::wstring& path : v.mountPaths)
            if (SameNoCase(path, mountPath)) return &v;
    return nullptr;
}

FakeVolume* MachineScenario::VolumeByGuid(const std::wstring& guid) {
    for (FakeVolume& v : volumes)
        if (SameNoCase(v.guid, guid)) return &v;
    return nullptr;
}

std::wstring MachineScenario::GuidOf(const std::wstring& mountPath) const {
    return const_cast<MachineScenario*>(this)->VolumeAt(mountPath)->guid;
}

std::wstring MachineScenario::DeviceOf(const std::wstring& mountPath) const {
    return const_cast<MachineScenario*>(this)->VolumeAt(mountPath)->device;
}

MachineGuard::MachineGuard(MachineScenario& machine)
    : paths_(machine.paths), previous_(active), saved_(win), savedVersion_(OsVersion.code) {
    active = &machine;
    handles.clear();
    win.CreateFileW = FakeCreateFileW;
    win.CloseHandle = FakeCloseHandle;
    win.DeviceIoControl = FakeDeviceIoControl;
    win.GetVolumeNameForVolumeMountPointW = FakeGetVolumeNameForVolumeMountPointW;
    win.GetLogicalDrives = FakeGetLogicalDrives;
    win.FindFirstVolumeW = FakeFindFirstVolumeW;
    win.FindNextVolumeW = FakeFindNextVolumeW;
    win.FindVolumeClose = FakeFindVolumeClose;
    win.GetDiskFreeSpaceW = FakeGetDiskFreeSpaceW;
    win.LoadLibraryA = FakeLoadLibraryA;
    pathsVolumeInformation = win.GetVolumeInformationW;
    win.GetVolumeInformationW = FakeGetVolumeInformationW;
    win.SetupDiGetClassDevsW = FakeSetupDiGetClassDevsW;
    win.SetupDiEnumDeviceInterfaces = FakeSetupDiEnumDeviceInterfaces;
    win.SetupDiGetDeviceInterfaceDetailW = FakeSetupDiGetDeviceInterfaceDetailW;
    win.SetupDiDestroyDeviceInfoList = FakeSetupDiDestroyDeviceInfoList;
    win.GetProcAddress = FakeGetProcAddress;
    OsVersion.code = 0x0601;
    ForgetStorageEntryPoints();
}

MachineGuard::~MachineGuard() {
    win = saved_;
    active = previous_;
    OsVersion.code = savedVersion_;
    ForgetStorageEntryPoints();
}
