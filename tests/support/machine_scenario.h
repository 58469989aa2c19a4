// A whole machine's storage in a few lines: disks with numbers and bus types, volumes with GUID
// names, letters and mount folders, substituted and network letters, the encryption drivers'
// mount lists, virtual disks with their containers, CD-ROM and floppy drives. While a
// MachineGuard is alive, every call the storage topology makes is answered from it.
//
//   MachineScenario m;
//   m.Disk(0).Disk(1).Volume(L"C:\\", 0);
//   m.Volume(L"E:\\", 1);
//   m.Subst(L'X', L"E:\\Data").Encrypted(FirstEncryptionDriver, L'T', L"\\??\\E:\\vault.tc");
//   MachineGuard guard(m);
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/volume_scenario.h"

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// A disk, CD-ROM or floppy device, opened as \\.\PhysicalDriveN, \\.\CdRomN or \\.\FloppyN.
struct FakeDevice {
    DWORD number = 0;
    DWORD busType = 11;  // SATA
    DWORD bytesPerSector = 512;
    bool refuseGeometry = false;
    std::string vendor;  // ANSI, as the device descriptor holds them; empty for none
    std::string product;
    std::optional<int64_t> length;    // IOCTL_DISK_GET_LENGTH_INFO fails without one
    bool refuseProperty = false;      // the device-property query fails
    std::optional<bool> seekPenalty;  // the seek-penalty query fails without one
};

// One entry of the disk interface class, naming the device it opens.
struct FakeDiskInterface {
    std::wstring path;    // \\?\scsi#disk&...#{53f56307-...}
    std::wstring device;  // \\.\PhysicalDriveN; empty or unknown: the interface opens nothing
    bool refuseDetail = false;
};

struct FakeVolume {
    std::wstring guid;    // \\?\Volume{...}\ (with the backslash)
    std::wstring device;  // \Device\HarddiskVolumeN
    int disk = 0;         // the device-number answer; -1 makes the query fail
    UINT type = DRIVE_FIXED;
    std::vector<std::wstring> mountPaths;  // E:\ or C:\mnt\e\, in the order the system lists them
    DWORD bytesPerSector = 512;
    std::wstring label;             // GetVolumeInformationW of the GUID name
    std::optional<int64_t> length;  // IOCTL_DISK_GET_LENGTH_INFO fails without one
};

// What VirtDisk answers for a virtual disk's device.
struct FakeDependency {
    std::wstring host;          // HostVolumeName: a volume GUID path or an NT device name
    std::wstring relativePath;  // DependentVolumeRelativePath
    ULONG needBytes = 0;        // when set, the size the answer needs, whatever its strings
};

// A reply of a control code written as given: at most the output size is copied, and `returned`
// is reported as is, so it may claim more than was written.
struct RawReply {
    bool ok = true;
    std::vector<unsigned char> bytes;
    DWORD returned = 0;
};

enum EncryptionDriver { FirstEncryptionDriver = 0, SecondEncryptionDriver = 1 };

class MachineScenario {
public:
    // A disk, listed as an interface of the disk class in the order added.
    MachineScenario& Disk(DWORD number, DWORD busType = 11, DWORD bytesPerSector = 512);
    FakeDevice& DiskDevice(DWORD number);
    // A CD-ROM or floppy drive with its volume on `letter`.
    MachineScenario& CdRom(wchar_t letter, DWORD number);
    MachineScenario& Floppy(wchar_t letter, DWORD number);
    // A volume on `disk`, mounted at `mountPath` (a root such as E:\, a folder such as
    // C:\mnt\e\, or empty for none). Its device is \Device\HarddiskVolumeN unless given. The
    // reference holds until the next volume is added.
    FakeVolume& Volume(const std::wstring& mountPath, int disk, UINT type = DRIVE_FIXED,
                       const std::wstring& device = L"");
    // Another mount path for the volume already mounted at `mountPath`.
    MachineScenario& Mount(const std::wstring& mountPath, const std::wstring& another);
    MachineScenario& Subst(wchar_t letter, const std::wstring& folder);
    MachineScenario& Network(wchar_t letter, const std::wstring& share);  // \\server\share
    // An encrypted volume on `letter` whose host the driver lists as `host` (as the driver
    // writes it, "\??\E:\vault.tc" or "\Device\Harddisk2\Partition1").
    MachineScenario& Encrypted(EncryptionDriver driver, wchar_t letter, const std::wstring& host);
    // Disk `disk` becomes a file-backed virtual disk whose container VirtDisk names.
    MachineScenario& VirtualDisk(DWORD disk, const std::wstring& host, const std::wstring& relativePath);

    std::wstring GuidOf(const std::wstring& mountPath) const;    // \\?\Volume{...}\ .
    std::wstring DeviceOf(const std::wstring& mountPath) const;  // \Device\HarddiskVolumeN
    FakeVolume* VolumeAt(const std::wstring& mountPath);
    FakeVolume* VolumeByGuid(const std::wstring& guid);

    VolumeScenario paths;  // the answers of the calls the paths layer shares
    std::map<std::wstring, FakeDevice, NoCaseLess> devices;
    std::vector<FakeVolume> volumes;
    std::map<std::wstring, std::wstring, NoCaseLess> mountPoints;  // GetVolumeNameForVolumeMountPointW
    std::map<wchar_t, std::wstring> mountLists[2];
    bool driverPresent[2] = {false, false};
    std::map<std::wstring, FakeDependency, NoCaseLess> dependencies;  // by device path
    bool virtDiskPresent = true;
    bool virtDiskHasQuery = true;
    std::vector<std::wstring> refuseReadAccess;     // GENERIC_READ opens of these fail
    std::vector<FakeDiskInterface> diskInterfaces;  // SetupDi over the disk class, in this order
    bool diskClassFails = false;                    // SetupDiGetClassDevsW fails

    // Replace the built answers, for malformed and random replies.
    std::function<std::optional<RawReply>(const std::wstring& device, DWORD code)> rawControlReply;
    std::function<DWORD(ULONG size, unsigned char* buffer, ULONG* sizeUsed)> rawDependencyReply;
    std::function<BOOL(wchar_t* names, DWORD chars)> rawMountPathsReply;
    std::function<BOOL(wchar_t* name, DWORD chars)> rawVolumeNameReply;

    // What the calls saw.
    std::vector<std::wstring> opened;    // every successful CreateFileW
    std::vector<ULONG> dependencySizes;  // the buffer size of every dependency query
    int openHandles = 0;                 // open now; 0 after every balanced call
    int openSearches = 0;                // volume searches not yet closed
    int openDeviceSets = 0;              // SetupDi lists not yet destroyed
};

// Answers every call of the storage topology from the scenario while alive, and starts from an
// unloaded VirtDisk on Windows 7.
class MachineGuard {
public:
    explicit MachineGuard(MachineScenario& machine);
    ~MachineGuard();
    MachineGuard(const MachineGuard&) = delete;
    MachineGuard& operator=(const MachineGuard&) = delete;

private:
    ScenarioGuard paths_;
    MachineScenario* previous_;
    WinApi saved_;
    uint32_t savedVersion_;
};
