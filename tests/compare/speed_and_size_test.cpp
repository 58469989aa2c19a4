#include <gtest/gtest.h>

#include <string>

#include "base/memory.h"
#include "compare/device_size.h"
#include "compare/file_identity.h"
#include "compare/speed_text.h"
#include "support/seam.h"
#include "support/temp_folder.h"

namespace {

TEST(FormatSpeed, UnitsAndTenths) {
    struct Case {
        uint64_t bytes;
        uint32_t ms;
        const char* text;
    } cases[] = {
        {0, 0, "0 B/s"},
        {1024, 1000, "1024 B/s"},
        {1025, 1000, "1.0 KB/s"},
        {1000, 1, "976.6 KB/s"},  // 1000 bytes in 1 ms
        {1000, 0, "976.6 KB/s"},  // a duration of 0 counts as 1 ms
        {1048576, 1000, "1024.0 KB/s"},
        {1048577, 1000, "1.0 MB/s"},
        {1073741824, 2000, "512.0 MB/s"},
        {1073741824, 1000, "1024.0 MB/s"},
        {10737418240ull, 1000, "10.0 GB/s"},
        {1610612736, 1000, "1.5 GB/s"},
        {3000, 1000, "2.9 KB/s"},
        {UINT64_MAX, 1, nullptr},  // any text, but no fault
    };
    for (const Case& c : cases) {
        char text[kSpeedTextChars];
        int length = FormatSpeed(c.bytes, c.ms, text);
        EXPECT_EQ(length, static_cast<int>(strlen(text)));
        EXPECT_LT(length, kSpeedTextChars);
        if (c.text) {
            EXPECT_STREQ(text, c.text) << c.bytes << " bytes in " << c.ms << " ms";
        }
    }
    EXPECT_STREQ(SpeedText(1000, 1), "976.6 KB/s");
}

TEST(RoundUp, ToWholeSectors) {
    EXPECT_EQ(RoundUp(0, 512), 0u);
    EXPECT_EQ(RoundUp(1, 512), 512u);
    EXPECT_EQ(RoundUp(10000, 512), 10240u);
    EXPECT_EQ(RoundUp(4096, 4096), 4096u);
    EXPECT_EQ(RoundUp(4097, 4096), 8192u);
}

TEST(FileIdentity, HardLinksShareTheirIdentity) {
    TempFolder folder;
    std::wstring first = folder.Write(L"first.bin", "data");
    std::wstring second = folder.File(L"second.bin");
    ASSERT_TRUE(CreateHardLinkW(second.c_str(), first.c_str(), nullptr));
    std::wstring other = folder.Write(L"other.bin", "data");
    std::wstring another = folder.Write(L"another.bin", "data");
    auto open = [](const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    };
    HANDLE h1 = open(first), h2 = open(second), h3 = open(other), h4 = open(another);
    FileIdKey linked = {}, mixed = {}, single = {};
    EXPECT_TRUE(ReadPairKey(h1, h2, true, &linked));  // two links each
    EXPECT_TRUE(IsOneFile(linked));                   // the second name of the same file
    EXPECT_TRUE(ReadPairKey(h1, h3, true, &mixed));   // one side with two links is enough
    EXPECT_FALSE(IsOneFile(mixed));
    EXPECT_FALSE(ReadPairKey(h3, h4, true, &single));  // single links: no pair can come again
    EXPECT_TRUE(ReadPairKey(h3, h4, false, &single));
    for (HANDLE h : {h1, h2, h3, h4}) CloseHandle(h);
    FileId none = {};
    EXPECT_FALSE(ReadPathId(folder.File(L"missing").c_str(), &none));

    FileIdList* list = NewFileIdList();
    FileIdKey secondName = linked;
    secondName.sides[0] = linked.sides[1];  // (second, second) is (first, first)
    FileIdKey higher = linked;
    higher.sides[1].high += 1;
    EXPECT_EQ(RememberFileIdKey(list, linked), 1);
    EXPECT_EQ(RememberFileIdKey(list, mixed), 1);
    EXPECT_EQ(RememberFileIdKey(list, secondName), 0);  // the second name of the same file
    EXPECT_EQ(RememberFileIdKey(list, higher), 1);      // the high part counts too
    EXPECT_EQ(list->count, 3u);
    EXPECT_TRUE(HasFileIdKey(list, secondName));

    // A tree with many links: every identity once, every repeat known, through many growths.
    // Ids close together and ones that differ only in the high part, as file systems hand out.
    constexpr uint32_t kMany = 200000;
    for (int round = 0; round < 2; ++round) {
        int added = 0;
        for (uint32_t i = 0; i < kMany; ++i) {
            FileIdKey key = {};
            key.sides[0] = {7, 1000 + i, i % 3 == 0 ? 0xA5A50007u : 0xA5A50000u};
            key.sides[1] = key.sides[0];
            added += RememberFileIdKey(list, key);
        }
        EXPECT_EQ(added, round == 0 ? static_cast<int>(kMany) : 0) << round;
    }
    EXPECT_EQ(list->count, 3u + kMany);
    FreeFileIdList(list);
}

TEST(SizeOfFileOrDevice, RealFiles) {
    TempFolder folder;
    std::wstring path = folder.Write(L"f.bin", std::string(10000, 'x'));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SizeOfFileOrDevice(file, false), 10000u);
    CloseHandle(file);
}

// A device handle as the drivers answer it: no file size, then the length or the geometry.
struct FakeDevice {
    static inline DWORD fileSize;
    static inline DWORD sizeError;
    static inline BOOL lengthOk;
    static inline DWORD lengthError;
    static inline DWORD lengthReturned;
    static inline MEDIA_TYPE media;
    static inline DWORD geometryReturned;
    static DWORD WINAPI GetFileSize(HANDLE, LPDWORD high) {
        *high = 0;
        ::SetLastError(sizeError);
        return sizeError ? INVALID_FILE_SIZE : fileSize;
    }
    static BOOL WINAPI Ioctl(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                             LPOVERLAPPED) {
        if (code == IOCTL_DISK_GET_LENGTH_INFO) {
            EXPECT_EQ(outSize, 8u);
            if (!lengthOk) {
                ::SetLastError(lengthError);
                return FALSE;
            }
            static_cast<GET_LENGTH_INFORMATION*>(out)->Length.QuadPart = 500107862016ll;
            *returned = lengthReturned;
            return TRUE;
        }
        if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
            EXPECT_EQ(outSize, 24u);
            auto* g = static_cast<DISK_GEOMETRY*>(out);
            g->Cylinders.QuadPart = 80;
            g->MediaType = media;
            g->TracksPerCylinder = 2;
            g->SectorsPerTrack = 18;
            g->BytesPerSector = 512;
            *returned = geometryReturned;
            return TRUE;
        }
        return FALSE;
    }
};

TEST(SizeOfFileOrDevice, DevicesAskTheirDriver) {
    // `size` as a file's; a file or device that tells nothing has an unknown size, never 0.
    struct Case {
        DWORD fileSize;
        DWORD sizeError;
        BOOL lengthOk;
        DWORD lengthError;
        DWORD lengthReturned;
        MEDIA_TYPE media;
        uint64_t size;
        DWORD geometryReturned = sizeof(DISK_GEOMETRY);
    } cases[] = {
        {4096, 0, TRUE, 0, 8, FixedMedia, 4096},                                            // a plain file
        {0, ERROR_INVALID_FUNCTION, TRUE, 0, 8, FixedMedia, 500107862016ull},               // a disk
        {0, ERROR_INVALID_PARAMETER, TRUE, 0, 8, FixedMedia, 500107862016ull},              // a volume
        {0, ERROR_INVALID_PARAMETER, TRUE, 0, 0, FixedMedia, kSizeUnknown},                 // a length of no bytes
        {0, ERROR_ACCESS_DENIED, TRUE, 0, 8, FixedMedia, kSizeUnknown},                     // not a device at all
        {0, ERROR_INVALID_FUNCTION, FALSE, ERROR_NOT_SUPPORTED, 0, F3_1Pt44_512, 1474560},  // a floppy
        {0, ERROR_INVALID_FUNCTION, FALSE, ERROR_NOT_SUPPORTED, 0, FixedMedia, kSizeUnknown},
        {0, ERROR_INVALID_FUNCTION, FALSE, ERROR_ACCESS_DENIED, 0, F3_1Pt44_512, kSizeUnknown},
        {0, ERROR_INVALID_FUNCTION, FALSE, ERROR_NOT_SUPPORTED, 0, F3_1Pt44_512, kSizeUnknown, 20},  // no sector size
        {0, 0, FALSE, ERROR_NOT_SUPPORTED, 0, FixedMedia, 0},  // a block device under Wine: 0, no error
        {0, 0, TRUE, 0, 8, FixedMedia, 0},                     // ... whose driver does answer
    };
    SeamOverride size(win.GetFileSize, &FakeDevice::GetFileSize);
    SeamOverride ioctl(win.DeviceIoControl, &FakeDevice::Ioctl);
    for (const Case& c : cases) {
        FakeDevice::fileSize = c.fileSize;
        FakeDevice::sizeError = c.sizeError;
        FakeDevice::lengthOk = c.lengthOk;
        FakeDevice::lengthError = c.lengthError;
        FakeDevice::lengthReturned = c.lengthReturned;
        FakeDevice::media = c.media;
        FakeDevice::geometryReturned = c.geometryReturned;
        HANDLE handle = reinterpret_cast<HANDLE>(0x99);
        EXPECT_EQ(SizeOfFileOrDevice(handle, false), c.size) << c.sizeError << "/" << c.lengthError;
        // The size query's own error names what failed, not the driver's answer to a file.
        if (c.size == kSizeUnknown) EXPECT_EQ(GetLastError(), c.sizeError);
        bool driverAnswers = c.lengthOk && c.lengthReturned == 8;
        uint64_t asDevice = c.size != 0 ? c.size : c.sizeError == 0 && driverAnswers ? 500107862016ull : kSizeUnknown;
        EXPECT_EQ(SizeOfFileOrDevice(handle, true), asDevice) << c.sizeError << "/" << c.lengthError;
    }
}

}  // namespace
