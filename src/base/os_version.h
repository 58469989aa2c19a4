// The Windows version, read once at start; other layers choose code paths by `code`.
#pragma once

#include <cstdint>

struct OsVersionRecord {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t code;  // major and minor as four packed decimal digits: 6.1 is 0x0601, 10.0 is 0x1000
};

extern OsVersionRecord OsVersion;

uint32_t PackVersionCode(uint32_t major, uint32_t minor);
void ReadOsVersion(OsVersionRecord* record);
