#include "base/os_version.h"

#include "platform/win_api.h"

OsVersionRecord OsVersion = {};

uint32_t PackVersionCode(uint32_t major, uint32_t minor) {
    return ((major / 10 % 10) << 12) + ((major % 10) << 8) + ((minor / 10 % 10) << 4) + minor % 10;
}

void ReadOsVersion(OsVersionRecord* record) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    static_assert(sizeof(OSVERSIONINFOEXW) == 284);
    *record = {};
    if (!win.GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return;
    record->major = info.dwMajorVersion;
    record->minor = info.dwMinorVersion;
    record->build = info.dwBuildNumber;
    record->code = PackVersionCode(info.dwMajorVersion, info.dwMinorVersion);
}
