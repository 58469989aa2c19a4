#include "storage/encrypted_volumes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/drive_identity.h"
#include "support/machine_scenario.h"

namespace {

// A mount list as a driver writes it: the letter mask and the entries.
RawReply MountList(uint32_t mask, std::map<wchar_t, std::wstring> entries, DWORD returned = kMountListBytes) {
    RawReply reply;
    reply.bytes.assign(kMountListBytes, 0);
    memcpy(reply.bytes.data(), &mask, 4);
    for (const auto& [letter, text] : entries) {
        size_t chars = text.size() < kMountListEntryChars ? text.size() : kMountListEntryChars;
        memcpy(reply.bytes.data() + kMountListEntriesOffset + (letter - L'A') * kMountListEntryChars * 2, text.c_str(),
               chars * 2);
    }
    reply.returned = returned;
    return reply;
}

const uint32_t kT = 1u << (L'T' - L'A');

TEST(QueryEncryptedMountList, BothDriversAndTheirReplies) {
    MachineScenario m;
    m.Encrypted(FirstEncryptionDriver, L'T', L"\\??\\E:\\true.tc");
    m.Encrypted(SecondEncryptionDriver, L'T', L"\\??\\F:\\vera.hc");
    m.Encrypted(FirstEncryptionDriver, L'Z', L"\\Device\\Harddisk1\\Partition1");
    MachineGuard guard(m);
    const std::wstring full(kMountListEntryChars, L'f');
    struct {
        const char* what;
        std::optional<RawReply> vera;  // what the second driver answers instead of its list
        wchar_t letter;
        std::wstring host;
    } rows[] = {
        {"the second driver wins", std::nullopt, L'T', L"F:\\vera.hc"},
        {"a lower-case letter", std::nullopt, L't', L"F:\\vera.hc"},
        {"only the first driver has it", std::nullopt, L'Z', L"\\Device\\Harddisk1\\Partition1"},
        {"neither has it", std::nullopt, L'Q', L""},
        {"no drive letter", std::nullopt, L'[', L""},
        {"second fails", RawReply{false, {}, 0}, L'T', L"E:\\true.tc"},
        {"letter not in the mask", MountList(0, {{L'T', L"\\??\\G:\\x"}}), L'T', L"E:\\true.tc"},
        {"entry without its end", MountList(kT, {{L'T', full}}), L'T', L"E:\\true.tc"},
        {"reply short of the entry", MountList(kT, {{L'T', L"\\??\\G:\\x"}}, 4 + 20 * 520 - 1), L'T', L"E:\\true.tc"},
        {"the longest entry", MountList(kT, {{L'T', full.substr(1)}}), L'T', full.substr(1)},
        {"a short entry with '?'", MountList(kT, {{L'T', L"\\?"}}), L'T', L"\\?"},
    };
    for (const auto& row : rows) {
        m.rawControlReply = [&](const std::wstring& device, DWORD) -> std::optional<RawReply> {
            if (device == L"\\\\.\\VeraCrypt" && row.vera) return row.vera;
            return std::nullopt;
        };
        wchar_t out[kTopologyPathChars] = {L'x'};
        EXPECT_EQ(QueryEncryptedMountList(row.letter, out), !row.host.empty()) << row.what;
        EXPECT_EQ(std::wstring(out), row.host) << row.what;
        EXPECT_EQ(m.openHandles, 0);
    }
    m.driverPresent[FirstEncryptionDriver] = m.driverPresent[SecondEncryptionDriver] = false;
    wchar_t out[kTopologyPathChars];
    EXPECT_FALSE(QueryEncryptedMountList(L'T', out));
}

TEST(ResolveEncryptedVolumeHost, ClassifiesTheHost) {
    MachineScenario m;
    m.Encrypted(FirstEncryptionDriver, L'T', L"");
    std::wstring guid = m.GuidOf(L"T:\\");
    MachineGuard guard(m);
    struct {
        std::wstring host;
        std::wstring again;  // the path to resolve again, or
        DriveIdentity identity;
        bool found;
    } rows[] = {
        {L"\\??\\E:\\vault.tc", L"E:\\vault.tc", 0, true},
        {L"\\Device\\Harddisk2\\Partition1", L"", 2, true},
        {L"\\device\\HARDDISK17\\Partition1", L"", 17, true},
        {L"\\Device\\CdRom1", L"", kCdRomIdentityBase + 1, true},
        {L"\\Device\\Floppy0", L"", kFloppyIdentityBase + 0, true},
        {L"\\Device\\Harddisk65535\\Partition1", L"", 65535, true},
        {L"\\Device\\Harddisk65536\\Partition1", L"", 0, false},  // would read as a CD-ROM
        {L"\\Device\\HarddiskVolume5", L"\\Device\\HarddiskVolume5", 0, true},
        {L"\\Device\\Mup\\server\\share\\v.tc", L"\\Device\\Mup\\server\\share\\v.tc", 0, true},
        {L"", L"", 0, false},
    };
    for (const auto& row : rows) {
        m.mountLists[FirstEncryptionDriver][L'T'] = row.host;
        for (const std::wstring& path : {std::wstring(L"T:\\docs"), guid + L"docs"}) {
            wchar_t out[kTopologyPathChars] = {L'x'};
            DriveIdentity identity = 0;
            EXPECT_EQ(ResolveEncryptedVolumeHost(path.c_str(), out, &identity), row.found) << row.host << L" " << path;
            EXPECT_EQ(std::wstring(out), row.again) << row.host;
            if (row.found && row.again.empty()) {
                EXPECT_EQ(identity, row.identity) << row.host;
            }
        }
    }
    // The volume device must be one of the drivers' and end in a letter.
    m.mountLists[FirstEncryptionDriver][L'T'] = L"\\??\\E:\\vault.tc";
    wchar_t out[kTopologyPathChars];
    DriveIdentity identity = 0;
    for (const wchar_t* device : {L"\\Device\\TrueCryptVolume", L"\\Device\\TrueCryptVolume5", L"\\Device\\Other"}) {
        m.paths.dosDevices[guid.substr(4, 44)] = device;
        EXPECT_FALSE(ResolveEncryptedVolumeHost((guid + L"docs").c_str(), out, &identity)) << device;
    }
    m.paths.dosDevices[guid.substr(4, 44)] = L"\\device\\veracryptvolumet";
    EXPECT_TRUE(ResolveEncryptedVolumeHost((guid + L"docs").c_str(), out, &identity));
}

}  // namespace
