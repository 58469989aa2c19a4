#include "app/process_environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/system_library.h"
#include "support/seam.h"

namespace {

// Run-time lookups answered by fakes, by name.
struct Lookups {
    static inline std::vector<std::string> asked;
    static inline std::string dllDirectory = "unset";
    static inline DWORD defaultDirectories = 0;
    static inline bool present = true;

    static BOOL WINAPI SetDllDirectoryA(LPCSTR path) {
        dllDirectory = path ? path : "(null)";
        return TRUE;
    }
    static BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
        defaultDirectories = flags;
        return TRUE;
    }
    static FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR name) {
        asked.push_back(name);
        if (!present) return nullptr;
        std::string n = name;
        if (n == "SetDllDirectoryA") return reinterpret_cast<FARPROC>(&SetDllDirectoryA);
        if (n == "SetDefaultDllDirectories") return reinterpret_cast<FARPROC>(&SetDefaultDllDirectories);
        return nullptr;
    }
};

TEST(HardenDllSearch, EmptiesTheDllFolderAndLimitsTheSearchToSystem32) {
    Lookups::asked.clear();
    Lookups::dllDirectory = "unset";
    Lookups::defaultDirectories = 0;
    Lookups::present = true;
    SeamOverride lookup(win.GetProcAddress, &Lookups::GetProcAddress);
    HardenDllSearch();
    EXPECT_EQ(Lookups::dllDirectory, "");
    EXPECT_EQ(Lookups::defaultDirectories, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});

    // An older system without either function: skipped silently.
    Lookups::present = false;
    Lookups::asked.clear();
    HardenDllSearch();
    EXPECT_EQ(Lookups::asked, (std::vector<std::string>{"SetDllDirectoryA", "SetDefaultDllDirectories"}));
}

// A token that remembers each privilege's attributes, as AdjustTokenPrivileges sees them.
struct FakeToken {
    static inline std::vector<std::wstring> looked;
    static inline DWORD attributes = 0;            // the privilege's state in the token
    static inline DWORD failWith = ERROR_SUCCESS;  // the error of the first adjustment
    static inline int adjustments = 0;
    static inline bool closed = false;

    static BOOL WINAPI Lookup(LPCWSTR, LPCWSTR name, PLUID luid) {
        looked.push_back(name);
        if (std::wstring(name) == L"SeMissingPrivilege") {
            ::SetLastError(ERROR_NO_SUCH_PRIVILEGE);
            return FALSE;
        }
        luid->LowPart = 17;
        luid->HighPart = 0;
        return TRUE;
    }
    static BOOL WINAPI Adjust(HANDLE, BOOL, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES previous, PDWORD size) {
        ++adjustments;
        EXPECT_EQ(state->PrivilegeCount, 1u);
        EXPECT_EQ(state->Privileges[0].Luid.LowPart, 17u);
        if (previous) {
            previous->PrivilegeCount = 1;
            previous->Privileges[0].Luid = state->Privileges[0].Luid;
            previous->Privileges[0].Attributes = attributes;
            *size = sizeof(TOKEN_PRIVILEGES);
            ::SetLastError(failWith);
            return failWith == ERROR_SUCCESS || failWith == ERROR_NOT_ALL_ASSIGNED;
        }
        attributes = state->Privileges[0].Attributes;
        ::SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    static BOOL WINAPI Open(HANDLE, DWORD access, PHANDLE token) {
        EXPECT_EQ(access, DWORD{TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY});
        *token = reinterpret_cast<HANDLE>(0x5151);
        return TRUE;
    }
    static BOOL WINAPI Close(HANDLE h) {
        closed = h == reinterpret_cast<HANDLE>(0x5151);
        return TRUE;
    }
    static void Reset(DWORD attrs, DWORD fail) {
        looked.clear();
        attributes = attrs;
        failWith = fail;
        adjustments = 0;
        closed = false;
    }
};

class PrivilegeTest : public SeamTest {
protected:
    void SetUp() override {
        win.LookupPrivilegeValueW = &FakeToken::Lookup;
        win.AdjustTokenPrivileges = &FakeToken::Adjust;
        win.OpenProcessToken = &FakeToken::Open;
        win.CloseHandle = &FakeToken::Close;
    }
};

TEST_F(PrivilegeTest, EnablingSetsOnlyTheEnabledBitAndDisablingClearsIt) {
    struct Case {
        DWORD before;
        bool enable;
        DWORD after;
    } cases[] = {
        {0, true, SE_PRIVILEGE_ENABLED},
        {SE_PRIVILEGE_ENABLED_BY_DEFAULT, true, SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED},
        {SE_PRIVILEGE_ENABLED, false, 0},
        {SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED, false, SE_PRIVILEGE_ENABLED_BY_DEFAULT},
    };
    for (const Case& c : cases) {
        FakeToken::Reset(c.before, ERROR_SUCCESS);
        EXPECT_TRUE(EnablePrivilege(reinterpret_cast<HANDLE>(0x5151), L"SeBackupPrivilege", c.enable));
        EXPECT_EQ(FakeToken::attributes, c.after);
        EXPECT_EQ(FakeToken::adjustments, 2);
    }
}

TEST_F(PrivilegeTest, PrivilegesTheAccountLacksAreRefused) {
    FakeToken::Reset(0, ERROR_NOT_ALL_ASSIGNED);
    EXPECT_FALSE(EnablePrivilege(reinterpret_cast<HANDLE>(0x5151), L"SeBackupPrivilege", true));
    EXPECT_EQ(FakeToken::adjustments, 1);
    EXPECT_EQ(FakeToken::attributes, 0u);

    FakeToken::Reset(0, ERROR_SUCCESS);
    EXPECT_FALSE(EnablePrivilege(reinterpret_cast<HANDLE>(0x5151), L"SeMissingPrivilege", true));
    EXPECT_EQ(FakeToken::adjustments, 0);
}

TEST_F(PrivilegeTest, BackupPrivilegesInOrderAndTheTokenIsClosed) {
    FakeToken::Reset(0, ERROR_NOT_ALL_ASSIGNED);  // an account without any of them still runs
    EXPECT_TRUE(EnableBackupPrivileges());
    EXPECT_EQ(FakeToken::looked, (std::vector<std::wstring>{L"SeRestorePrivilege", L"SeBackupPrivilege",
                                                            L"SeSecurityPrivilege", L"SeCreateSymbolicLinkPrivilege"}));
    EXPECT_TRUE(FakeToken::closed);

    win.OpenProcessToken = +[](HANDLE, DWORD, PHANDLE) -> BOOL { return FALSE; };
    EXPECT_FALSE(EnableBackupPrivileges());
}

TEST(EnableBackupPrivileges, RealTokenUnderThisSystem) { EXPECT_TRUE(EnableBackupPrivileges()); }

TEST(ReadOwnVersion, AProgramWithoutVersionResourceGivesZero) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ProgramVersionRecord record = {9, 9, 9, 9};
    EXPECT_FALSE(ReadOwnVersion(self, &record));
    EXPECT_EQ(record.major + record.minor + record.build + record.revision, 0);
}

// version.dll answers through fakes handed out by GetProcAddress.
struct FakeVersion {
    static inline VS_FIXEDFILEINFO fixed;
    static inline bool pointOutside = false;
    static BOOL WINAPI GetInfo(LPCWSTR, DWORD, DWORD size, LPVOID data) {
        EXPECT_EQ(size, 512u);
        memset(data, 0, size);
        return TRUE;
    }
    static BOOL WINAPI Query(LPCVOID data, LPCWSTR, LPVOID* value, PUINT length) {
        if (pointOutside) {
            *value = &fixed;  // not inside the caller's buffer
        } else {
            memcpy(const_cast<unsigned char*>(static_cast<const unsigned char*>(data)) + 40, &fixed, sizeof(fixed));
            *value = const_cast<unsigned char*>(static_cast<const unsigned char*>(data)) + 40;
        }
        *length = sizeof(fixed);
        return TRUE;
    }
    static FARPROC WINAPI Lookup(HMODULE, LPCSTR name) {
        if (std::string(name) == "GetFileVersionInfoW") return reinterpret_cast<FARPROC>(&GetInfo);
        if (std::string(name) == "VerQueryValueW") return reinterpret_cast<FARPROC>(&Query);
        return nullptr;
    }
};

TEST(ReadOwnVersion, TakesTheFourNumbersFromTheFixedPartAndDistrustsStrayAnswers) {
    SeamOverride lookup(win.GetProcAddress, &FakeVersion::Lookup);
    FakeVersion::fixed = {};
    FakeVersion::fixed.dwSignature = VS_FFI_SIGNATURE;
    FakeVersion::fixed.dwFileVersionMS = MAKELONG(2, 1);  // 1.2
    FakeVersion::fixed.dwFileVersionLS = MAKELONG(4, 3);  // .3.4
    FakeVersion::pointOutside = false;
    ProgramVersionRecord record = {};
    ASSERT_TRUE(ReadOwnVersion(L"qvb.exe", &record));
    EXPECT_EQ(record.major, 1);
    EXPECT_EQ(record.minor, 2);
    EXPECT_EQ(record.build, 3);
    EXPECT_EQ(record.revision, 4);

    FakeVersion::pointOutside = true;
    EXPECT_FALSE(ReadOwnVersion(L"qvb.exe", &record));
    EXPECT_EQ(record.major, 0);

    FakeVersion::pointOutside = false;
    FakeVersion::fixed.dwSignature = 0;
    EXPECT_FALSE(ReadOwnVersion(L"qvb.exe", &record));
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolderOnly) {
    static std::string loaded;
    SeamOverride load(
        win.LoadLibraryA, +[](LPCSTR path) -> HMODULE {
            loaded = path;
            return ::LoadLibraryA(path);
        });
    EXPECT_NE(LoadSystemLibrary("version.dll"), nullptr);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(loaded, std::string(system) + "\\version.dll");

    // A system folder name that fills the buffer is not cut and loaded anyway.
    SeamOverride full(
        win.GetSystemDirectoryA, +[](LPSTR, UINT size) -> UINT { return size + 10; });
    loaded.clear();
    EXPECT_EQ(LoadSystemLibrary("version.dll"), nullptr);
    EXPECT_EQ(loaded, "");
}

}  // namespace
