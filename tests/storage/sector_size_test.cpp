#include "storage/sector_size.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/machine_scenario.h"

namespace {

RawReply Geometry(DWORD bytesPerSector, DWORD returned = sizeof(DISK_GEOMETRY)) {
    DISK_GEOMETRY geometry = {};
    geometry.BytesPerSector = bytesPerSector;
    RawReply reply;
    reply.bytes.resize(sizeof(geometry));
    memcpy(reply.bytes.data(), &geometry, sizeof(geometry));
    reply.returned = returned;
    return reply;
}

TEST(DeviceSectorSize, AsksTheGeometryAndDistrustsOddAnswers) {
    MachineScenario m;
    m.Disk(1, 11, 4096).Disk(2, 11, 512).Disk(3);
    m.devices[L"\\\\.\\PhysicalDrive3"].refuseGeometry = true;
    m.Disk(4);
    MachineGuard guard(m);
    struct {
        const wchar_t* device;
        std::optional<RawReply> reply;
        uint32_t size;
    } rows[] = {
        {L"\\\\.\\PhysicalDrive1", std::nullopt, 4096},
        {L"\\\\.\\PhysicalDrive2", std::nullopt, 512},
        {L"\\\\.\\PhysicalDrive3", std::nullopt, 512},  // refuses the query
        {L"\\\\.\\PhysicalDrive9", std::nullopt, 512},  // cannot be opened
        {L"\\\\.\\PhysicalDrive4", Geometry(2048), 2048},
        {L"\\\\.\\PhysicalDrive4", Geometry(4096, 20), 512},  // the reply stops short of the field
        {L"\\\\.\\PhysicalDrive4", Geometry(0), 512},
        {L"\\\\.\\PhysicalDrive4", Geometry(520), 512},
        {L"\\\\.\\PhysicalDrive4", Geometry(0x20000), 512},
    };
    for (const auto& row : rows) {
        m.rawControlReply = [&](const std::wstring&, DWORD) { return row.reply; };
        EXPECT_EQ(DeviceSectorSize(row.device), row.size) << row.device;
        EXPECT_EQ(m.openHandles, 0);
    }
}

TEST(DriveSectorSize, FromTheFreeSpaceQuery) {
    MachineScenario m;
    m.Disk(0).Volume(L"C:\\", 0);
    m.Volume(L"E:\\", 0).bytesPerSector = 4096;
    m.Volume(L"F:\\", 0).bytesPerSector = 3;
    MachineGuard guard(m);
    EXPECT_EQ(DriveSectorSize(L'C'), 512u);
    EXPECT_EQ(DriveSectorSize(L'E'), 4096u);
    EXPECT_EQ(DriveSectorSize(L'F'), 512u);
    EXPECT_EQ(DriveSectorSize(L'Q'), 512u);
}

TEST(IsFloppyPath, RootsAndVolumeNamesOfFloppyDrives) {
    MachineScenario m;
    m.Disk(0).Volume(L"C:\\", 0);
    m.Floppy(L'A', 0);
    m.Volume(L"U:\\", 1, DRIVE_REMOVABLE);
    std::wstring a = m.GuidOf(L"A:\\");
    MachineGuard guard(m);
    struct {
        std::wstring path;
        bool floppy;
    } rows[] = {
        {L"A:\\", true},  {L"A:", true},    {a, true},    {L"A:\\dir\\file.bin", false},
        {L"C:\\", false}, {L"U:\\", false}, {L"", false}, {L"A:\\" + std::wstring(MAX_PATH, L'a'), false},
    };
    for (const auto& row : rows) EXPECT_EQ(IsFloppyPath(row.path.c_str()), row.floppy) << row.path;
    // Without a volume name, the root is asked as a DOS device.
    m.rawVolumeNameReply = [](wchar_t*, DWORD) -> BOOL { return FALSE; };
    EXPECT_TRUE(IsFloppyPath(L"A:\\"));
    m.rawVolumeNameReply = [](wchar_t* name, DWORD chars) -> BOOL {
        wmemset(name, L'x', chars);
        return TRUE;
    };
    EXPECT_TRUE(IsFloppyPath(L"A:\\"));  // an unterminated name is no name
}

TEST(LegacyVolumeName, FindsTheVolumeOfTheDevice) {
    MachineScenario m;
    m.Disk(0).Volume(L"C:\\", 0);
    m.Volume(L"D:\\", 0);
    m.Volume(L"", 0, DRIVE_FIXED, L"\\Dev");  // a device name too short to hold "\Device\"
    m.Volume(L"E:\\", 1);
    std::wstring e = m.GuidOf(L"E:\\");
    e.pop_back();
    MachineGuard guard(m);
    struct {
        std::wstring path, result;
        bool found;
    } rows[] = {
        {L"\\\\.\\HarddiskVolume4", e, true},
        {L"\\\\.\\harddiskVOLUME4", e, true},
        {L"\\\\.\\HarddiskVolume99", L"\\\\.\\HarddiskVolume99", false},
        {L"\\\\.\\HarddiskVolume", L"\\\\.\\HarddiskVolume", false},
    };
    for (const auto& row : rows) {
        PathBuffer path;
        wcscpy(path, row.path.c_str());
        EXPECT_EQ(LegacyVolumeName(path), row.found) << row.path;
        EXPECT_EQ(std::wstring(path), row.result);
        EXPECT_EQ(m.openSearches, 0);
    }
    wchar_t small[20];
    wcscpy(small, L"\\\\.\\HarddiskVolume4");
    EXPECT_FALSE(LegacyVolumeName(small, 20));
    EXPECT_EQ(std::wstring(small), L"\\\\.\\HarddiskVolume4");
}

}  // namespace
