// The volume listing, redirected and on consoles of several widths.
#include "storage/volume_listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fake_console.h"
#include "support/machine_scenario.h"
#include "support/one_step_short.h"
#include "support/output_capture.h"

namespace fc = fake_console;

namespace {

void NameDisk(MachineScenario& m, DWORD disk, const char* vendor, const char* product) {
    m.DiskDevice(disk).vendor = vendor;
    m.DiskDevice(disk).product = product;
}

// Lettered volumes added out of letter order, one mounted in many folders as well, a folder mount,
// one without any mount path, a card reader without a card, a spanned volume, one that cannot be
// opened and a CD-ROM drive.
MachineScenario Machine(const std::wstring& labelOfF) {
    MachineScenario m;
    m.Disk(0, 17).Disk(1, 7).Disk(2, 11);
    NameDisk(m, 0, "", "Samsung SSD 970 EVO 1TB");
    NameDisk(m, 1, "Generic-", "SD/MMC");
    NameDisk(m, 2, "ATA", "WDC WD5000AAKX");
    FakeVolume* v = &m.Volume(L"F:\\", 2);  // HarddiskVolume1
    v->label = labelOfF;
    v->length = 500107862016;
    v = &m.Volume(L"E:\\", 0);
    v->label = L"Data";
    v->length = 1000204886016;
    // Mount folders enough that the list of its mount paths outgrows a first buffer of 1024.
    for (wchar_t folder = L'a'; folder < L'j'; ++folder) m.Mount(L"E:\\", L"C:\\" + std::wstring(120, folder) + L"\\");
    m.Volume(L"C:\\mnt\\e2\\", 0).length = 1474560;
    v = &m.Volume(L"", 2);
    v->label = L"Recovery";
    v->length = 999500;
    m.Volume(L"U:\\", 1).length = 0;
    v = &m.Volume(L"G:\\", -1);
    v->label = L"Spanned";
    v->length = 2000398934016;
    m.Volume(L"H:\\", 1).label = L"Locked";  // HarddiskVolume7
    m.refuseReadAccess.push_back(m.GuidOf(L"H:\\").substr(0, m.GuidOf(L"H:\\").size() - 1));
    m.CdRom(L'R', 0);
    return m;
}

// The lines before any disk name, in the order they are printed, with the name each would show.
struct Line {
    std::string text;  // {F} stands for the label of F:
    std::wstring name;
};
const Line kLines[] = {
    {"E:  \\\\.\\HarddiskVolume2    Disk0   NVMe     1 TB    Data", L"Samsung SSD 970 EVO 1TB"},
    {"F:  \\\\.\\HarddiskVolume1    Disk2   SATA     500 GB  {F}", L"ATA WDC WD5000AAKX"},
    {"G:  \\\\.\\HarddiskVolume6    Disk-1  NoInfo   2 TB    Spanned", L""},
    {"H:  \\\\.\\HarddiskVolume7    Disk1   NoAccess         Locked", L""},
    {"mp  \\\\.\\HarddiskVolume3    Disk0   NVMe     1 MB    ", L"Samsung SSD 970 EVO 1TB"},
    {"--  \\\\.\\HarddiskVolume4    Disk2   SATA     1000 KB Recovery", L"ATA WDC WD5000AAKX"},
};

std::string WithLabel(const std::string& text, const std::string& label) {
    size_t at = text.find("{F}");
    return at == std::string::npos ? text : text.substr(0, at) + label + text.substr(at + 3);
}

TEST(ListVolumes, RedirectedOutputHasNoNames) {
    MachineScenario m = Machine(L"Backup 2019");
    OutputCapture capture(false, false);
    {
        MachineGuard guard(m);
        ListVolumes();
    }
    std::string expected;
    for (const Line& line : kLines) expected += WithLabel(line.text, "Backup 2019") + "\n";
    EXPECT_EQ(capture.streams.outBytes, expected);
    EXPECT_EQ(m.openHandles, 0);
    EXPECT_EQ(m.openSearches, 0);
    // Each answer one step short of what it was a moment before, one call at a time. A volume the
    // search does not name, or whose device is not told, is not listed at all; the card reader
    // whose length is not told is not known to be empty.
    for (const char* call : strict::kShortCalls) {
        bool lengthUnknown = strcmp(call, "IOCTL_DISK_GET_LENGTH_INFO") == 0;
        std::string reference = expected + (lengthUnknown ? "U:  \\\\.\\HarddiskVolume5    Disk1   USB\n" : "");
        capture.streams.outBytes.clear();
        {
            MachineGuard guard(m);
            strict::OneStepShort shortAnswers(call);
            ListVolumes();
        }
        bool everyVolume = strcmp(call, "FindFirstVolumeW") != 0 && strcmp(call, "FindNextVolumeW") != 0 &&
                           strcmp(call, "QueryDosDeviceW") != 0;
        EXPECT_EQ(strict::ListingFault(capture.streams.outBytes, reference, everyVolume), "") << call;
        EXPECT_EQ(m.openHandles + m.openSearches, 0) << call;
    }
}

class ListVolumesOnConsole : public FakeConsoleTest {};

TEST_F(ListVolumesOnConsole, NamesInTheirOwnColumnWhenTheyHaveRoom) {
    struct Case {
        int width;
        const char* labelOfF;
        int nameColumn;  // 0: no names
        int nameChars;
    } cases[] = {
        {80, "Backup 2019", 65, 13},         // 80 - 1 - 65 = 14 > 10
        {80, "Backup of the system", 0, 0},  // 80 - 1 - 74 = 5
        {120, "Backup 2019", 65, 53},       {120, "Backup of the system", 74, 44},
        {77, "Backup 2019", 65, 10},  // 11 columns are enough
        {76, "Backup 2019", 0, 0},    // 10 are not
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " columns, label " << c.labelOfF);
        Restart(c.width, 25);
        std::string label = c.labelOfF;
        MachineScenario m = Machine(std::wstring(label.begin(), label.end()));
        {
            MachineGuard guard(m);
            ListVolumes();
        }
        int row = 0;
        for (const Line& line : kLines) {
            std::string text = WithLabel(line.text, label);
            std::wstring expected(text.begin(), text.end());
            if (c.nameColumn > 0) {
                expected.resize(c.nameColumn, L' ');
                expected += line.name.substr(0, c.nameChars);
            }
            expected.erase(expected.find_last_not_of(L' ') + 1);
            EXPECT_EQ(fc::TrimmedRow(row), expected) << "row " << row;
            ++row;
        }
        EXPECT_EQ(fc::TrimmedRow(row), L"");
        EXPECT_EQ(fc::Cursor().Y, row);
    }
}

TEST(ListVolumes, NothingWhenTheVolumeSearchFails) {
    MachineScenario m;  // no volume at all: FindFirstVolumeW fails
    OutputCapture capture(false, false);
    {
        MachineGuard guard(m);
        ListVolumes();
    }
    EXPECT_EQ(capture.streams.outBytes, "");
}

}  // namespace
