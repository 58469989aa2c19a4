#include "storage/drive_identity.h"

#include <gtest/gtest.h>

#include <string>

#include "app/path_setup.h"
#include "storage/drive_letters.h"
#include "support/machine_scenario.h"
#include "support/output_capture.h"

namespace {

// One machine that has every layer the resolution looks through.
MachineScenario Workstation() {
    MachineScenario m;
    m.Disk(0).Disk(1).Disk(2);
    m.Volume(L"C:\\", 0);
    m.Volume(L"D:\\", 0);  // a second partition of disk 0
    m.Volume(L"E:\\", 1);
    m.Mount(L"E:\\", L"C:\\mnt\\e\\");
    m.Volume(L"C:\\mnt\\e2\\", 1);  // mounted only in a folder of a volume on another disk
    m.Volume(L"", 1);               // mounted nowhere
    m.Volume(L"F:\\", 2);
    m.Volume(L"G:\\", -1);  // its disk number cannot be read
    m.Volume(L"U:\\", 2, DRIVE_REMOVABLE);
    m.CdRom(L'R', 0).Floppy(L'A', 0);
    m.Subst(L'X', L"E:\\Data").Subst(L'Y', L"X:\\nested");
    m.Network(L'N', L"\\\\server\\share");
    m.Encrypted(FirstEncryptionDriver, L'T', L"\\??\\E:\\vault.tc");
    m.Encrypted(SecondEncryptionDriver, L'V', L"\\Device\\Harddisk2\\Partition1");
    m.Encrypted(FirstEncryptionDriver, L'H', L"\\Device\\HarddiskVolume5");
    m.Disk(3).Volume(L"K:\\", 3);
    m.VirtualDisk(3, m.GuidOf(L"E:\\"), L"\\VMs\\a.vhd");
    m.Disk(4, BusTypeFileBackedVirtual).Volume(L"L:\\", 4);  // a virtual disk whose container is unknown
    m.Disk(5).Volume(L"M:\\", 5);
    m.VirtualDisk(5, m.GuidOf(L"C:\\"), L"\\VMs\\b.vhd");
    m.Disk(6).Volume(L"O:\\", 6);
    m.VirtualDisk(6, m.DeviceOf(L"F:\\"), L"x.vhd");
    return m;
}

TEST(ResolveDriveIdentity, LooksThroughEveryLayer) {
    MachineScenario m = Workstation();
    std::wstring unmounted = m.volumes[4].guid;
    std::wstring encrypted = m.GuidOf(L"T:\\");
    MachineGuard guard(m);
    struct {
        std::wstring path;
        DriveIdentity identity;
    } rows[] = {
        {L"C:\\dir\\a.bin", 0},
        {L"D:\\b.bin", 0},
        {L"\\\\?\\E:\\x", 1},
        {L"E:\\", 1},
        {L"C:\\mnt\\e2\\file", 1},  // the mounted volume, not the drive letter above it
        {L"C:\\mnt\\other\\file", 0},
        {unmounted + L"dir\\f", 1},
        {L"N:\\dir", kNetworkDrive},
        {L"\\\\server\\share\\dir", kNetworkDrive},
        {L"\\\\?\\UNC\\server\\share\\dir", kNetworkDrive},
        {L"G:\\x", kUnresolvedDrive},
        {L"Q:\\x", kUnresolvedDrive},
        {L"", kUnresolvedDrive},
        {L"R:\\", kCdRomIdentityBase + 0},
        {L"A:\\", kFloppyIdentityBase + 0},
        {L"U:\\f", 2},  // removable, but no floppy
        {L"X:\\sub\\f", 1},
        {L"\\\\?\\Y:\\f", 1},  // a substitution of a substitution
        {L"T:\\docs\\f", 1},   // a container file on E:
        {encrypted + L"docs", 1},
        {L"V:\\f", 2},                 // a partition of disk 2
        {L"H:\\f", kUnresolvedDrive},  // a volume device host names no disk: not disk 0
        {L"K:\\f", 1},                 // a virtual disk whose container lies on E:
        {L"L:\\f", 4},
        {L"M:\\f", 0},
        {L"O:\\f", 2},  // a container named by the NT device of F:
        {L"C:\\" + std::wstring(MAX_PATH - 3, L'a'), 0},
        {L"C:\\" + std::wstring(MAX_PATH - 2, L'a'), kUnresolvedDrive},  // refused, not cut short
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ResolveDriveIdentity(row.path.c_str()), row.identity) << row.path;
        EXPECT_EQ(m.openHandles, 0) << row.path;
    }
}

TEST(ResolveDriveIdentity, ChainsThatComeBackEndUnresolved) {
    MachineScenario m;
    m.Disk(0).Volume(L"C:\\", 0);
    m.Subst(L'P', L"Q:\\a").Subst(L'Q', L"P:\\b");
    m.Disk(7).Volume(L"S:\\", 7);
    m.VirtualDisk(7, m.GuidOf(L"S:\\"), L"\\self.vhd");
    m.Encrypted(SecondEncryptionDriver, L'J', L"\\??\\J:\\self.hc");
    MachineGuard guard(m);
    for (const wchar_t* path : {L"P:\\x", L"S:\\x", L"J:\\x"}) {
        EXPECT_EQ(ResolveDriveIdentity(path), kUnresolvedDrive) << path;
        EXPECT_EQ(m.openHandles, 0);
    }
    EXPECT_LE(m.dependencySizes.size(), size_t{kMostStorageLayers + 1});
    // A substitution that grows past the buffer on its way round is refused, not cut.
    m.Subst(L'P', L"Q:\\" + std::wstring(200, L'p'));
    EXPECT_EQ(ResolveDriveIdentity(L"P:\\x"), kUnresolvedDrive);
}

TEST(OnSamePhysicalDrive, ReportsTheDecision) {
    MachineScenario m = Workstation();
    MachineGuard guard(m);
    const std::string same = "Files are located on the same physical drive -> sequential operation\n";
    const std::string different = "Files are located on different physical drives -> parallel operation\n";
    struct {
        const wchar_t* first;
        const wchar_t* second;
        bool same;
    } rows[] = {
        {L"C:\\a", L"D:\\b", true},                 // two partitions of one disk
        {L"N:\\a", L"\\\\server\\share\\b", true},  // two network paths
        {L"N:\\a", L"C:\\a", false},                // network against a local disk
        {L"G:\\a", L"Q:\\b", true},                 // two unresolved paths
        {L"M:\\f", L"C:\\x", true},                 // a container on disk 0 and a folder on disk 0
        {L"M:\\f", L"E:\\x", false},
        {L"R:\\", L"C:\\", false},  // CD-ROM 0 is not disk 0
        {L"T:\\f", L"X:\\g", true},
    };
    for (const auto& row : rows) {
        OutputCapture capture(false, false);
        EXPECT_EQ(ReportOnSamePhysicalDrive(row.first, row.second, false), row.same) << row.first << L" " << row.second;
        EXPECT_EQ(capture.streams.outBytes, row.same ? same : different);
    }
    OutputCapture capture(false, false);
    EXPECT_TRUE(ReportOnSamePhysicalDrive(L"C:\\a", L"D:\\b", true));
    EXPECT_EQ(capture.streams.outBytes, "");
}

TEST(OnSameVolume, ComparesRootsThenVolumeNames) {
    MachineScenario m = Workstation();
    MachineGuard guard(m);
    struct {
        std::wstring first, second;
        bool same;
    } rows[] = {
        {L"C:\\a", L"C:\\b\\c", true},
        {L"E:\\x", L"C:\\mnt\\e\\y", true},  // a letter and a mount folder of one volume
        {L"\\\\?\\X:\\sub", L"E:\\Data\\y", true},
        {L"C:\\a", L"D:\\b", false},
        {L"C:\\a", L"R:\\b", false},  // different drive types
        {L"C:\\mnt\\e2\\a", L"C:\\a", false},
        {L"N:\\a", L"N:\\b", true},
        {L"C:\\" + std::wstring(MAX_PATH, L'a'), L"C:\\b", false},  // too long to tell
        {L"P:", L"P:", false},                                      // no root at all
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OnSameVolume(row.first.c_str(), row.second.c_str()), row.same) << row.first << L" " << row.second;
    }
}

TEST(DriveLetters, SubstitutionInPlaceOrRefused) {
    for (const wchar_t* path : {L"1:\\", L"\u00e9:\\", L"\\\\.\\C:", L"\\\\?\\"})
        EXPECT_EQ(DriveLetterOf(path), 0) << path;
    EXPECT_EQ(DriveLetterOf(L"\\\\?\\d:"), L'D');

    MachineScenario m;
    m.Disk(0).Volume(L"E:\\", 0);
    m.Subst(L'X', L"E:\\Data").Subst(L'R', L"E:\\").Network(L'N', L"\\\\server\\share");
    m.paths.dosDevices[L"W:"] = L"\\??\\UNC\\server\\share";
    MachineGuard guard(m);
    struct {
        std::wstring path;
        bool rewritten;
        std::wstring result;
    } rows[] = {
        {L"X:\\sub\\", true, L"\\\\?\\E:\\Data\\sub\\"},
        {L"\\\\?\\x:\\a", true, L"\\\\?\\E:\\Data\\a"},
        {L"X:", true, L"\\\\?\\E:\\Data"},
        {L"E:\\a", false, L""},
        {L"N:\\a", false, L""},
        {L"W:\\a", false, L""},             // a share, not a folder of a drive
        {L"R:\\a", true, L"\\\\?\\E:\\a"},  // a letter for a root: one backslash after it
        {L"X:\\" + std::wstring(MAX_PATH - 12, L'a'), true, L"\\\\?\\E:\\Data\\" + std::wstring(MAX_PATH - 12, L'a')},
    };
    for (const auto& row : rows) {
        wchar_t buffer[kTopologyPathChars] = {};
        wcscpy(buffer, row.path.c_str());
        bool refused = true;
        EXPECT_EQ(ResolveSubstDrive(buffer, buffer, kTopologyPathChars, &refused), row.rewritten) << row.path;
        EXPECT_FALSE(refused);
        if (row.rewritten) {
            EXPECT_EQ(std::wstring(buffer), row.result);
        }
    }
    wchar_t out[kTopologyPathChars] = {L'z'};
    bool refused = false;
    std::wstring tooLong = L"X:\\" + std::wstring(MAX_PATH - 11, L'a');  // one more than fits
    EXPECT_FALSE(ResolveSubstDrive(tooLong.c_str(), out, kTopologyPathChars, &refused));
    EXPECT_TRUE(refused);
    EXPECT_EQ(out[0], 0);
}

}  // namespace
