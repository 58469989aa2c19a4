#include "storage/virtual_disk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/path_setup.h"
#include "base/os_version.h"
#include "support/machine_scenario.h"
#include "support/output_capture.h"

namespace {

const wchar_t kDisk3[] = L"\\\\.\\PhysicalDrive3";

MachineScenario Host() {
    MachineScenario m;
    m.Disk(0).Volume(L"C:\\", 0);
    m.Disk(1).Volume(L"E:\\", 1);
    m.Volume(L"C:\\mnt\\f\\", 1);
    m.Volume(L"", 1);
    m.Disk(3, BusTypeFileBackedVirtual);
    return m;
}

std::wstring Container(MachineScenario& m, const wchar_t* device = kDisk3) {
    wchar_t out[kTopologyPathChars + 8];
    wmemset(out, 0xFDFD, kTopologyPathChars + 8);
    out[0] = 0;
    bool ok = ResolveVirtualDiskContainer(device, out) == ContainerAnswer::kFound;
    for (size_t i = kTopologyPathChars; i < kTopologyPathChars + 8; ++i) EXPECT_EQ(out[i], 0xFDFD);
    EXPECT_EQ(ok, out[0] != 0);
    EXPECT_EQ(m.openHandles, 0);
    return out;
}

TEST(ResolveVirtualDiskContainer, JoinsTheHostVolumeAndTheRelativePath) {
    MachineScenario m = Host();
    std::wstring unmounted = m.volumes[3].guid;
    std::wstring tail(MAX_PATH - 3, L'v');
    MachineGuard guard(m);
    struct {
        std::wstring host, relative, container;
    } rows[] = {
        {m.GuidOf(L"E:\\"), L"\\VMs\\a.vhd", L"E:\\VMs\\a.vhd"},
        {m.GuidOf(L"C:\\mnt\\f\\"), L"\\VMs\\a.vhd", L"C:\\mnt\\f\\VMs\\a.vhd"},
        {unmounted, L"\\VMs\\a.vhd", unmounted + L"VMs\\a.vhd"},
        {unmounted.substr(0, unmounted.size() - 1), L"\\VMs\\a.vhd", unmounted + L"VMs\\a.vhd"},
        {m.DeviceOf(L"E:\\"), L"\\VMs\\a.vhd", L"E:\\VMs\\a.vhd"},
        {m.DeviceOf(L"E:\\"), L"VMs\\a.vhd", L"E:\\VMs\\a.vhd"},     // exactly one separator either way
        {L"\\Device\\HarddiskVolume99", L"\\a.vhd", L""},            // an NT device without a letter
        {L"\\device\\harddiskvolume2", L"\\a.vhd", L""},             // device names match exactly
        {L"\\\\?\\volume" + unmounted.substr(10), L"\\a.vhd", L""},  // so does the GUID path's prefix
        {m.GuidOf(L"E:\\"), tail, L"E:\\" + tail},
        {m.GuidOf(L"E:\\"), tail + L"v", L""},  // too long for the buffer: refused, not cut
    };
    for (const auto& row : rows) {
        m.VirtualDisk(3, row.host, row.relative);
        EXPECT_EQ(Container(m), row.container) << row.host << L" " << row.relative;
    }
}

TEST(ResolveVirtualDiskContainer, TakesOneLargerBufferUpToOneMebibyte) {
    MachineScenario m = Host();
    m.VirtualDisk(3, m.GuidOf(L"E:\\"), L"\\a.vhd");
    MachineGuard guard(m);
    struct {
        ULONG need;
        std::vector<ULONG> sizes;
        bool found;
    } rows[] = {
        {0, {8192}, true},
        {20000, {8192, 20000}, true},
        {0x100000, {8192, 0x100000}, true},
        {0x100001, {8192}, false},
    };
    for (const auto& row : rows) {
        m.dependencies[kDisk3].needBytes = row.need;
        m.dependencySizes.clear();
        EXPECT_EQ(Container(m) == L"E:\\a.vhd", row.found) << row.need;
        EXPECT_EQ(m.dependencySizes, row.sizes) << row.need;
    }
}

TEST(ResolveVirtualDiskContainer, OpensWithoutAccessWhenReadingIsRefused) {
    MachineScenario m = Host();
    m.VirtualDisk(3, m.GuidOf(L"E:\\"), L"\\a.vhd");
    m.refuseReadAccess = {kDisk3};
    MachineGuard guard(m);
    EXPECT_EQ(Container(m), L"E:\\a.vhd");
    EXPECT_EQ(Container(m, L"\\\\.\\PhysicalDrive9"), L"");
}

TEST(ResolveVirtualDiskContainer, WithoutVirtDiskOrBeforeWindows7) {
    MachineScenario m = Host();
    m.VirtualDisk(3, m.GuidOf(L"E:\\"), L"\\a.vhd");
    m.Volume(L"W:\\", 3);
    MachineGuard guard(m);
    OutputCapture capture(false, false);
    m.virtDiskPresent = false;
    EXPECT_EQ(Container(m), L"");
    m.virtDiskPresent = true;
    m.virtDiskHasQuery = false;
    EXPECT_EQ(Container(m), L"");
    m.virtDiskHasQuery = true;  // a failed load is tried again
    EXPECT_EQ(Container(m), L"E:\\a.vhd");
    EXPECT_EQ(capture.streams.outBytes, "");

    ForgetStorageEntryPoints();
    OsVersion.code = 0x0600;
    m.opened.clear();
    EXPECT_EQ(Container(m), L"");
    wchar_t out[kTopologyPathChars] = {};
    EXPECT_EQ(ResolveVirtualDiskContainer(kDisk3, out), ContainerAnswer::kNeedsWindows7);
    EXPECT_EQ(capture.streams.outBytes, "");  // the caller tells, once for each side
    EXPECT_TRUE(m.opened.empty());
    EXPECT_TRUE(ReportOnSamePhysicalDrive(L"W:\\a", L"W:\\b", true));
    EXPECT_EQ(capture.streams.outBytes,
              "error resolving VHD container (Win7 or higher required)\r\n"
              "error resolving VHD container (Win7 or higher required)\r\n");
}

// A reply written by hand: the header, the first entry's two pointers (as offsets into the
// buffer) and the strings where they point.
struct Reply {
    DWORD result = ERROR_SUCCESS;
    ULONG sizeUsed = 0;
    uint32_t entries = 1;
    long long hostAt = 200, relativeAt = 400;  // byte offsets; outside the buffer when so chosen
    std::wstring host = L"\\Device\\HarddiskVolume2", relative = L"\\a.vhd";
    bool nullHost = false;
    bool toTheEnd = false;  // the relative path fills the buffer to its last byte

    DWORD Write(ULONG size, unsigned char* buffer, ULONG* used) const {
        *used = sizeUsed;
        if (result != ERROR_SUCCESS) return result;
        memcpy(buffer + 4, &entries, 4);
        long long relativeOffset = toTheEnd ? size - relative.size() * 2 : relativeAt;
        uintptr_t hostPointer = nullHost ? 0 : reinterpret_cast<uintptr_t>(buffer) + hostAt;
        uintptr_t relativePointer = reinterpret_cast<uintptr_t>(buffer) + relativeOffset;
        memcpy(buffer + 48, &hostPointer, 8);
        memcpy(buffer + 64, &relativePointer, 8);
        auto place = [&](long long at, const std::wstring& text, bool terminate) {
            size_t bytes = (text.size() + (terminate ? 1 : 0)) * 2;
            if (at >= 0 && at + static_cast<long long>(bytes) <= size) memcpy(buffer + at, text.c_str(), bytes);
        };
        place(hostAt, host, true);
        place(relativeOffset, relative, !toTheEnd);
        return ERROR_SUCCESS;
    }
};

TEST(ResolveVirtualDiskContainer, AReplyThatDoesNotHoldTogetherIsNoAnswer) {
    MachineScenario m = Host();
    m.VirtualDisk(3, m.DeviceOf(L"E:\\"), L"\\a.vhd");
    MachineGuard guard(m);
    auto with = [](auto change) {
        Reply r;
        change(r);
        return r;
    };
    struct {
        const char* what;
        Reply reply;
        size_t calls;
        bool found;
    } rows[] = {
        {"a sound reply", Reply{}, 1, true},
        {"127 entries fill the buffer", with([](Reply& r) { r.entries = 127; }), 1, true},
        {"no entries", with([](Reply& r) { r.entries = 0; }), 1, false},
        {"more entries than fit", with([](Reply& r) { r.entries = 128; }), 1, false},
        {"a count that wraps", with([](Reply& r) { r.entries = 0xFFFFFFFF; }), 1, false},
        {"host behind the buffer", with([](Reply& r) { r.hostAt = 8192; }), 1, false},
        {"host before the buffer", with([](Reply& r) { r.hostAt = -64; }), 1, false},
        {"an odd pointer", with([](Reply& r) { r.relativeAt = 401; }), 1, false},
        {"a null pointer", with([](Reply& r) { r.nullHost = true; }), 1, false},
        {"a string without its end", with([](Reply& r) { r.toTheEnd = true; }), 1, false},
        {"an empty relative path", with([](Reply& r) { r.relative.clear(); }), 1, false},
        {"a need no larger than the buffer", with([](Reply& r) {
             r.result = ERROR_INSUFFICIENT_BUFFER;
             r.sizeUsed = 100;
         }),
         1, false},
        {"another failure", with([](Reply& r) { r.result = ERROR_NOT_SUPPORTED; }), 1, false},
    };
    for (const auto& row : rows) {
        m.dependencySizes.clear();
        m.rawDependencyReply = [&](ULONG size, unsigned char* buffer, ULONG* used) {
            return row.reply.Write(size, buffer, used);
        };
        EXPECT_EQ(Container(m) == L"E:\\a.vhd", row.found) << row.what;
        EXPECT_EQ(m.dependencySizes.size(), row.calls) << row.what;
    }
    // A need that grows between the two calls.
    m.rawDependencyReply = [&](ULONG size, unsigned char*, ULONG* used) -> DWORD {
        *used = size * 2 + 16;
        return ERROR_INSUFFICIENT_BUFFER;
    };
    m.dependencySizes.clear();
    EXPECT_EQ(Container(m), L"");
    EXPECT_EQ(m.dependencySizes, (std::vector<ULONG>{8192, 16400}));
}

}  // namespace
