// Random bytes as every driver's and VirtDisk's reply. Heap blocks end right before a page that
// may not be touched, so a read or write past the end of a reply buffer faults; outputs are
// followed by guard characters that must stay as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "storage/device_queries.h"
#include "storage/drive_identity.h"
#include "storage/encrypted_volumes.h"
#include "storage/sector_size.h"
#include "storage/virtual_disk.h"
#include "support/machine_scenario.h"
#include "support/one_step_short.h"
#include "support/seam.h"

namespace {

constexpr size_t kPage = 4096;
std::map<void*, void*> regions;

// The block ends where a no-access page begins: aligned to 8 for the pointers it may hold, so
// up to 7 bytes at its end are not guarded.
LPVOID WINAPI GuardedHeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
    size_t rounded = (bytes + 7) & ~size_t{7};
    size_t pages = (rounded + kPage - 1) / kPage;
    auto* base =
        static_cast<char*>(VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + pages * kPage, kPage, PAGE_NOACCESS, &old);
    char* block = base + pages * kPage - rounded;
    regions[block] = base;
    return block;
}

BOOL WINAPI GuardedHeapFree(HANDLE, DWORD, LPVOID block) {
    auto found = regions.find(block);
    if (found == regions.end()) return FALSE;
    VirtualFree(found->second, 0, MEM_RELEASE);
    regions.erase(found);
    return TRUE;
}

struct GuardedOut {
    static constexpr size_t kGuard = 16;
    wchar_t chars[kTopologyPathChars + kGuard];
    GuardedOut() { wmemset(chars, 0xFDFD, kTopologyPathChars + kGuard); }
    bool Intact() const {
        for (size_t i = kTopologyPathChars; i < kTopologyPathChars + kGuard; ++i)
            if (chars[i] != 0xFDFD) return false;
        return true;
    }
    bool Terminated() const { return wmemchr(chars, 0, kTopologyPathChars) != nullptr; }
};

std::wstring RandomText(std::mt19937& rng, size_t most) {
    const wchar_t kAlphabet[] = L"\\?:.VolumeDevicHarkdisCRmF0123456789{}-x\u00e9";
    std::wstring text(rng() % (most + 1), L'x');
    for (wchar_t& c : text) c = kAlphabet[rng() % (std::size(kAlphabet) - 1)];
    return text;
}

// Random bytes with, now and then, the parts that make a reply look sound: a small count,
// pointers into or near the buffer, strings at or running to its end.
DWORD RandomDependencyReply(std::mt19937& rng, ULONG size, unsigned char* buffer, ULONG* used) {
    for (ULONG i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(rng() % 3 ? rng() : 0);
    const ULONG kUsed[] = {0, 100, 8192, 8193, 20000, 0x100000, 0x100001, 0xFFFFFFFF};
    *used = rng() % 2 ? kUsed[rng() % std::size(kUsed)] : rng();
    switch (rng() % 4) {
        case 0: return ERROR_INSUFFICIENT_BUFFER;
        case 1: return rng() % 2 ? ERROR_NOT_SUPPORTED : rng();
        default: break;
    }
    if (size >= 72 && rng() % 4) {
        uint32_t entries = rng() % 3 ? rng() % 3 : rng();
        memcpy(buffer + 4, &entries, 4);
        for (size_t slot : {48, 64}) {
            long long at;
            switch (rng() % 4) {
                case 0: at = size - 2 * (1 + rng() % 8); break;  // near the end
                case 1: at = static_cast<long long>(rng() % (size + 64)) - 32; break;
                default: at = 72 + rng() % (size - 72); break;
            }
            uintptr_t pointer = reinterpret_cast<uintptr_t>(buffer) + at;
            memcpy(buffer + slot, &pointer, sizeof(pointer));
            if (at >= 72 && at < static_cast<long long>(size)) {
                std::wstring text = RandomText(rng, 40);
                size_t room = (size - at) / 2;
                size_t n = text.size() < room ? text.size() : room;
                memcpy(buffer + at, text.c_str(), n * 2);
                if (n < room && rng() % 4) memset(buffer + at + n * 2, 0, 2);
            }
        }
    }
    return ERROR_SUCCESS;
}

RawReply RandomControlReply(std::mt19937& rng, DWORD code) {
    RawReply reply;
    reply.ok = rng() % 8 != 0;
    size_t bytes = code == kMountListControlCode ? rng() % (kMountListBytes + 1) : rng() % 64;
    reply.bytes.resize(bytes);
    for (auto& b : reply.bytes) b = static_cast<unsigned char>(rng() % 3 ? rng() : 0);
    if (code == kMountListControlCode && bytes >= 4 && rng() % 2) {
        // Some entries hold text, some run to their end without a terminator.
        for (int i = 0; i < 26; ++i) {
            size_t at = kMountListEntriesOffset + i * kMountListEntryChars * 2;
            if (at + kMountListEntryChars * 2 > bytes || rng() % 3) continue;
            std::wstring text = rng() % 3 ? L"\\??\\E:\\" + RandomText(rng, 300) : L"\\Device\\" + RandomText(rng, 300);
            size_t n = text.size() < kMountListEntryChars ? text.size() : kMountListEntryChars;
            memcpy(reply.bytes.data() + at, text.c_str(), n * 2);
            if (n < kMountListEntryChars) memset(reply.bytes.data() + at + n * 2, 0, 2);
        }
    }
    const DWORD kReturned[] = {0, 1, 8, 11, 12, 24, 31, 32, 40, 1024, 13524, 17424, 0xFFFFFFFF};
    reply.returned = rng() % 2 ? static_cast<DWORD>(bytes) : kReturned[rng() % std::size(kReturned)];
    return reply;
}

bool IsValidIdentity(DriveIdentity identity) {
    return identity == kUnresolvedDrive || identity == kNetworkDrive ||
           (identity >= 0 && identity < kFloppyIdentityBase + kLargestDriveNumber + 1);
}

TEST(RandomReplies, NoReplyReachesOutsideABuffer) {
    const unsigned salt = 20260601;
    std::mt19937 rng(salt);
    MachineScenario m;
    m.Disk(0).Disk(1).Volume(L"C:\\", 0);
    m.Volume(L"E:\\", 1);
    m.Volume(L"", 1);
    m.Disk(3).Volume(L"K:\\", 3);
    m.VirtualDisk(3, m.GuidOf(L"E:\\"), L"\\VMs\\a.vhd");
    m.Encrypted(FirstEncryptionDriver, L'T', L"\\??\\E:\\vault.tc");
    m.Encrypted(SecondEncryptionDriver, L'V', L"\\Device\\Harddisk1\\Partition1");
    MachineGuard guard(m);
    SeamOverride alloc(win.HeapAlloc, GuardedHeapAlloc);
    SeamOverride release(win.HeapFree, GuardedHeapFree);

    for (int i = 0; i < 1500; ++i) {
        SCOPED_TRACE(::testing::Message() << "salt " << salt << ", round " << i);
        // Every other round, every answer one step short of what it was a moment before.
        std::optional<strict::OneStepShort> shortAnswers;
        if (i % 2) shortAnswers.emplace();
        m.rawDependencyReply = [&](ULONG size, unsigned char* buffer, ULONG* used) {
            return RandomDependencyReply(rng, size, buffer, used);
        };
        m.rawControlReply = [&](const std::wstring&, DWORD code) -> std::optional<RawReply> {
            if (rng() % 3 == 0) return std::nullopt;
            return RandomControlReply(rng, code);
        };
        m.rawMountPathsReply = [&](wchar_t* names, DWORD chars) -> BOOL {
            for (DWORD c = 0; c < chars; ++c) names[c] = rng() % 4 ? L'a' + rng() % 26 : 0;
            if (rng() % 4 == 0) wmemset(names, L'x', chars);
            return rng() % 4 != 0;
        };
        m.paths.dosDevicesFillBuffer = rng() % 4 == 0;

        GuardedOut container;
        bool found = ResolveVirtualDiskContainer(L"\\\\.\\PhysicalDrive3", container.chars) == ContainerAnswer::kFound;
        EXPECT_TRUE(container.Intact() && container.Terminated());
        EXPECT_EQ(found, container.chars[0] != 0);

        GuardedOut host;
        wchar_t letter = rng() % 8 ? L"TVtvEQ"[rng() % 6] : static_cast<wchar_t>(rng() % 0x10000);
        found = QueryEncryptedMountList(letter, host.chars);
        EXPECT_TRUE(host.Intact() && host.Terminated());
        EXPECT_EQ(found, host.chars[0] != 0);
        GuardedOut next;
        DriveIdentity identity = 0x7FFFFFFF;
        if (ResolveEncryptedVolumeHost(rng() % 2 ? L"T:\\x" : L"V:\\x", next.chars, &identity) && !next.chars[0]) {
            EXPECT_TRUE(IsValidIdentity(identity) && identity >= 0) << identity;
        }
        EXPECT_TRUE(next.Intact() && next.Terminated());

        uint32_t busType = 0;
        QueryBusType(L"\\\\.\\PhysicalDrive1", &busType);
        bool answered = false;
        bool penalty = DiskHasSeekPenalty(0, &answered);
        EXPECT_TRUE(answered || !penalty);
        int32_t number = QueryDeviceNumber(m.volumes[0].guid.c_str());
        EXPECT_TRUE(number >= -1 && number <= kLargestDriveNumber) << number;
        uint32_t sector = DeviceSectorSize(L"\\\\.\\PhysicalDrive0");
        EXPECT_TRUE(sector >= 1 && sector <= 0x10000 && (sector & (sector - 1)) == 0) << sector;

        for (const wchar_t* path : {L"K:\\f", L"T:\\f", L"V:\\f", L"C:\\x"}) {
            EXPECT_TRUE(IsValidIdentity(ResolveDriveIdentity(path))) << path;
        }
        EXPECT_EQ(m.openHandles, 0);
        EXPECT_TRUE(regions.empty()) << "every reply buffer is freed";
        ForgetStorageEntryPoints();  // loaded again each round, through the guarded heap too
    }
}

// The seek-penalty answer counts only where the reply reaches its flag.
TEST(SeekPenalty, TrustedOnlyAsFarAsTheReplyReaches) {
    struct Row {
        BOOL ok;
        DWORD returned;
        BOOLEAN incurs;
        bool answered, penalty;
    } rows[] = {{TRUE, 12, TRUE, true, true}, {TRUE, 12, FALSE, true, false}, {TRUE, 8, TRUE, false, false},
                {FALSE, 12, TRUE, false, false}};
    static Row current;
    SeamOverride open(
        win.CreateFileW, +[](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
            return reinterpret_cast<HANDLE>(0x4242);
        });
    SeamOverride close(win.CloseHandle, +[](HANDLE) -> BOOL { return TRUE; });
    SeamOverride ioctl(
        win.DeviceIoControl,
        +[](HANDLE, DWORD code, LPVOID in, DWORD, LPVOID out, DWORD, LPDWORD returned, LPOVERLAPPED) -> BOOL {
            EXPECT_EQ(code, DWORD{IOCTL_STORAGE_QUERY_PROPERTY});
            EXPECT_EQ(static_cast<STORAGE_PROPERTY_QUERY*>(in)->PropertyId, StorageDeviceSeekPenaltyProperty);
            static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out)->IncursSeekPenalty = current.incurs;
            *returned = current.returned;
            return current.ok;
        });
    for (const Row& row : rows) {
        current = row;
        bool answered = false;
        EXPECT_EQ(DiskHasSeekPenalty(3, &answered), row.penalty) << row.returned;
        EXPECT_EQ(answered, row.answered) << row.returned;
    }
    bool answered = true;
    EXPECT_FALSE(DiskHasSeekPenalty(-1, &answered));
    EXPECT_FALSE(answered);
}

}  // namespace
