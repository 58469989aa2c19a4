// The disk listing and the words it shares with the volume listing.
#include "storage/disk_listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/machine_scenario.h"
#include "support/one_step_short.h"
#include "support/output_capture.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(FormatDiskSize, DecimalUnitsRoundedToTheNearestWholeUnit) {
    struct Case {
        int64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {500107862016, L"500 GB"},
        {2000398934016, L"2 TB"},
        {1474560, L"1 MB"},
        {999500, L"1000 KB"},
        {1499, L"1499 Bytes"},
        {1500, L"2 KB"},
        {0, L"0 Bytes"},
        {1, L"1 Bytes"},
        {1000499, L"1000 KB"},  // K = 1000 is not above 1000
        {1000500, L"1 MB"},
        {999999999, L"1000 MB"},
        {999999999999, L"1000 GB"},
        {1000000000000, L"1 TB"},
        {INT64_MAX, L"9223372 TB"},
        {-1, L"untested"},
        {INT64_MIN, L"untested"},
    };
    for (const Case& c : cases) {
        wchar_t text[kDiskSizeChars];
        FormatDiskSize(c.bytes, text);
        EXPECT_EQ(std::wstring(text), c.text) << c.bytes;
    }
}

TEST(BusTypeWord, EveryValueHasAWord) {
    struct Case {
        uint32_t busType;
        const wchar_t* word;
    } cases[] = {{0, L"Unknown"},         {1, L"SCSI"},  {7, L"USB"},  {11, L"SATA"},    {14, L"Virtual"},
                 {15, L"Virtual"},        {17, L"NVMe"}, {19, L"UFS"}, {20, L"Unknown"}, {0x7F, L"Unknown"},
                 {0xFFFFFFFF, L"Unknown"}};
    for (const Case& c : cases) EXPECT_EQ(std::wstring(BusTypeWord(c.busType)), c.word) << c.busType;
}

TEST(JoinVendorProduct, TrimsJoinsAndDropsARepeatedVendor) {
    const std::wstring v128(128, L'V');
    struct Case {
        std::wstring vendor, product;
        size_t capacity;
        std::wstring name;
    } cases[] = {
        {L"ACME", L"ACME DISK 100", 256, L"ACME DISK 100"},
        {L"Generic-", L"SD/MMC", 256, L"Generic SD/MMC"},
        {L"  WDC \t", L"\tWD5000AAKX  ", 256, L"WDC WD5000AAKX"},
        {L"", L"Samsung SSD 860", 256, L"Samsung SSD 860"},
        {L"ATA", L"  ", 256, L"ATA"},
        {L"acme", L"ACME X", 256, L"acme ACME X"},  // the vendor test minds case
        {L"", L"USB GENERIC- CARD", 256, L"USB Generic CARD"},
        {v128, std::wstring(125, L'p'), 256, v128 + L" " + std::wstring(125, L'p')},
        {v128, std::wstring(126, L'p'), 256, v128},  // 128 + 126 + 2 is not below 256
        {L"ABCDEFGHIJ", L"x", 8, L"ABCDEFG"},        // never beyond the buffer
    };
    for (const Case& c : cases) {
        std::vector<wchar_t> out(c.capacity + 1, L'#');
        JoinVendorProduct(c.vendor.c_str(), c.product.c_str(), out.data(), c.capacity);
        EXPECT_EQ(std::wstring(out.data()), c.name) << Narrow(c.vendor) << "|" << Narrow(c.product);
        EXPECT_EQ(out[c.capacity], L'#');
    }
}

// A descriptor reply of 1024 bytes as a driver might write it.
struct Descriptor {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kDescriptorReplyBytes, 0);
    Descriptor& U32(size_t offset, uint32_t value) {
        memcpy(&bytes[offset], &value, 4);
        return *this;
    }
    Descriptor& Text(size_t offset, const std::string& text, bool terminated = true) {
        memcpy(&bytes[offset], text.data(), text.size());
        if (terminated && offset + text.size() < bytes.size()) bytes[offset + text.size()] = 0;
        return *this;
    }
};

TEST(ReadDeviceDescriptor, StringsCountOnlyInsideWhatWasReturned) {
    struct Case {
        const char* name;
        Descriptor reply;
        size_t returned;
        bool ok;
        std::wstring vendor;
        std::wstring product;
    } cases[] = {
        {"well formed", Descriptor().U32(4, 60).U32(12, 40).U32(16, 45).U32(28, 7).Text(40, "ACME").Text(45, "DISK 1"),
         60, true, L"ACME", L"DISK 1"},
        {"too short for the bus type", Descriptor().U32(4, 40).U32(28, 7), 31, false, L"", L""},
        {"no strings", Descriptor().U32(4, 40).U32(28, 1), 40, true, L"", L""},
        {"offset beyond the bytes returned", Descriptor().U32(4, 100).U32(12, 60).Text(60, "LATE"), 50, true, L"", L""},
        {"size claims more than returned", Descriptor().U32(4, 2000).U32(16, 40).Text(40, "PRODUCT NAME"), 44, true,
         L"", L"PROD"},
        {"size shorter than returned", Descriptor().U32(4, 42).U32(12, 40).Text(40, "VENDOR"), 100, true, L"VE", L""},
        {"offset past the descriptor's size", Descriptor().U32(4, 40).U32(12, 44).Text(44, "X"), 60, true, L"", L""},
        {"offset at the end of the address space", Descriptor().U32(4, 0xFFFFFFFF).U32(12, 0xFFFFFFFF), 1024, true, L"",
         L""},
        {"returned beyond the buffer",
         Descriptor().U32(4, 0xFFFFFFFF).U32(12, 1000).Text(1000, std::string(24, 'v'), false), 5000, true,
         L"vvvvvvvvvvvvvvvvvvvvvvvv", L""},
        {"string longer than 128", Descriptor().U32(4, 1024).U32(16, 40).Text(40, std::string(300, 'p')), 1024, true,
         L"", std::wstring(128, L'p')},
    };
    for (const Case& c : cases) {
        uint32_t busType = 0xDEAD;
        wchar_t vendor[kDescriptorTextChars + 1], product[kDescriptorTextChars + 1];
        EXPECT_EQ(ReadDeviceDescriptor(c.reply.bytes.data(), c.returned, &busType, vendor, product), c.ok) << c.name;
        EXPECT_EQ(vendor, c.vendor) << c.name;
        EXPECT_EQ(product, c.product) << c.name;
    }
}

// -ld redirected, on a machine the scenario describes.
struct ListingCase {
    const char* name;
    std::function<void(MachineScenario&)> build;
    const char* out;
};

MachineScenario& Named(MachineScenario& m, DWORD disk, const char* vendor, const char* product, int64_t length) {
    FakeDevice& d = m.DiskDevice(disk);
    d.vendor = vendor;
    d.product = product;
    d.length = length;
    return m;
}

const ListingCase kListings[] = {
    {"enumerated 2, 0, 1 print sorted",
     [](MachineScenario& m) {
         m.Disk(2, 7).Disk(0, 17).Disk(1, 11);
         Named(m, 2, "Generic-", "SD/MMC", 0);
         Named(m, 0, "", "Samsung SSD 970 EVO 1TB", 1000204886016);
         Named(m, 1, "ATA     ", "WDC WD5000AAKX  ", 500107862016);
     },
     "Disk0    \\\\.\\PhysicalDrive0    NVMe     1 TB    Samsung SSD 970 EVO 1TB\n"
     "Disk1    \\\\.\\PhysicalDrive1    SATA     500 GB  ATA WDC WD5000AAKX\n"
     "Disk2    \\\\.\\PhysicalDrive2    USB      0 Bytes Generic SD/MMC\n"},
    {"numbers with a gap",
     [](MachineScenario& m) {
         m.Disk(3, 15).Disk(0, 14);
         Named(m, 3, "Msft", "Virtual Disk", 2000398934016);
     },
     "Disk0    \\\\.\\PhysicalDrive0    Virtual          \n"
     "Disk3    \\\\.\\PhysicalDrive3    Virtual  2 TB    Msft Virtual Disk\n"},
    {"two interfaces of one disk keep their order",
     [](MachineScenario& m) {
         m.Disk(1, 20).Disk(0, 99);
         m.diskInterfaces.push_back(
             {L"\\\\?\\usbstor#disk#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", L"\\\\.\\PhysicalDrive1"});
         Named(m, 1, "ACME", "ACME DISK 100", 1500);
     },
     "Disk0    \\\\.\\PhysicalDrive0    Unknown          \n"
     "Disk1    \\\\.\\PhysicalDrive1    Unknown  2 KB    ACME DISK 100\n"
     "Disk1    \\\\.\\PhysicalDrive1    Unknown  2 KB    ACME DISK 100\n"},
    {"a disk that cannot be opened, one without a property answer",
     [](MachineScenario& m) {
         m.Disk(0).Disk(1);
         m.refuseReadAccess.push_back(L"\\\\.\\PhysicalDrive0");
         Named(m, 1, "ACME", "X", 1474560).DiskDevice(1).refuseProperty = true;
     },
     "Disk0    \\\\.\\PhysicalDrive0    NoAccess         \n"
     "Disk1    \\\\.\\PhysicalDrive1    NoInfo   1 MB    \n"},
    {"interfaces without detail or disk number are left out",
     [](MachineScenario& m) {
         m.Disk(0).Disk(1);
         m.diskInterfaces[0].refuseDetail = true;
         m.diskInterfaces.push_back({L"\\\\?\\scsi#cdrom#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", L""});
     },
     "Disk1    \\\\.\\PhysicalDrive1    SATA             \n"},
    {"a number far above the others", [](MachineScenario& m) { m.Disk(0x7FFFFFF0, 9).Disk(5, 9); },
     "Disk5    \\\\.\\PhysicalDrive5    iSCSI            \n"
     "Disk2147483632 \\\\.\\PhysicalDrive2147483632 iSCSI            \n"},
    {"the disk class cannot be listed",
     [](MachineScenario& m) {
         m.Disk(0);
         m.diskClassFails = true;
     },
     ""},
    {"no disks", [](MachineScenario&) {}, ""},
};

TEST(ListDisks, OneLinePerDiskInNumberOrder) {
    for (const ListingCase& c : kListings) {
        MachineScenario m;
        c.build(m);
        OutputCapture capture(false, false);
        {
            MachineGuard guard(m);
            ListDisks();
        }
        EXPECT_EQ(capture.streams.outBytes, c.out) << c.name;
        EXPECT_EQ(m.openHandles, 0) << c.name;
        EXPECT_EQ(m.openDeviceSets, 0) << c.name;
        // Each answer one step short of what it was a moment before, one call at a time. Without
        // its number or its interface's detail a disk is not listed at all.
        for (const char* call : strict::kShortCalls) {
            capture.streams.outBytes.clear();
            {
                MachineGuard guard(m);
                strict::OneStepShort shortAnswers(call);
                ListDisks();
            }
            bool everyDisk = strcmp(call, "IOCTL_STORAGE_GET_DEVICE_NUMBER") != 0 &&
                             strcmp(call, "SetupDiGetDeviceInterfaceDetailW") != 0;
            EXPECT_EQ(strict::ListingFault(capture.streams.outBytes, c.out, everyDisk), "") << c.name << ", " << call;
            EXPECT_EQ(m.openHandles + m.openDeviceSets, 0) << c.name << ", " << call;
        }
    }
}

TEST(QueryDiskAndPartition, FailsWithBothMinusOne) {
    MachineScenario m;
    m.Disk(0);
    m.Volume(L"C:\\", 0);
    m.Volume(L"S:\\", -1);  // spanned: no single disk
    m.Floppy(L'A', 0);
    MachineGuard guard(m);
    struct Case {
        std::wstring path;
        bool ok;
        int32_t disk, partition;
    } cases[] = {
        {m.GuidOf(L"C:\\"), true, 0, 1},  // the trailing backslash is ignored
        {L"\\\\.\\PhysicalDrive0", true, 0, 0},
        {m.GuidOf(L"S:\\"), false, -1, -1},
        {L"\\\\.\\Floppy0", false, -1, -1},  // never opened
        {L"", false, -1, -1},
    };
    for (const Case& c : cases) {
        int32_t disk = 7, partition = 7;
        EXPECT_EQ(QueryDiskAndPartition(c.path.c_str(), &disk, &partition), c.ok) << Narrow(c.path);
        EXPECT_EQ(disk, c.disk) << Narrow(c.path);
        EXPECT_EQ(partition, c.partition) << Narrow(c.path);
    }
    for (const std::wstring& opened : m.opened) EXPECT_EQ(opened.find(L"Floppy"), std::wstring::npos);
}

}  // namespace
