// The real calls under Wine, which knows only the drives C: and Z: on one synthetic disk: the
// resolution must come to an answer and not crash. What Wine answers is printed for the record.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/os_version.h"
#include "storage/drive_identity.h"
#include "storage/sector_size.h"
#include "storage/virtual_disk.h"

namespace {

TEST(WineDrives, ResolvesRealPaths) {
    ReadOsVersion(&OsVersion);
    for (const wchar_t* path : {L"Z:\\tmp", L"\\\\?\\Z:\\tmp\\", L"C:\\windows", L"C:\\", L"Q:\\missing"}) {
        DriveIdentity identity = ResolveDriveIdentity(path);
        printf("%ls -> drive %d, floppy %d\n", path, identity, IsFloppyPath(path));
        EXPECT_GE(identity, kNetworkDrive);
    }
    EXPECT_EQ(ResolveDriveIdentity(L"Q:\\missing"), kUnresolvedDrive);
    printf("same drive: %d, same volume C:/Z: %d\n", OnSamePhysicalDrive(L"C:\\", L"Z:\\tmp"),
           OnSameVolume(L"C:\\windows", L"Z:\\tmp"));
    EXPECT_TRUE(OnSameVolume(L"Z:\\tmp", L"Z:\\usr"));
    printf("sector sizes: Z: %u, PhysicalDrive0 %u\n", DriveSectorSize(L'Z'),
           DeviceSectorSize(L"\\\\.\\PhysicalDrive0"));

    wchar_t container[kTopologyPathChars] = {};
    printf("container of PhysicalDrive0: %d '%ls'\n",
           static_cast<int>(ResolveVirtualDiskContainer(L"\\\\.\\PhysicalDrive0", container)), container);
    PathBuffer volume = L"\\\\.\\HarddiskVolume1";
    printf("legacy name: %d %ls\n", LegacyVolumeName(volume), volume);
}

}  // namespace
