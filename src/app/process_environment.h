// Preparing the process: DLL search order, privileges, the program's own version.
#pragma once

#include <cstdint>

#include "platform/windows.h"

struct ProgramVersionRecord {
    uint16_t major;
    uint16_t minor;
    uint16_t build;
    uint16_t revision;
};

// Zero when the version resource cannot be read.
extern ProgramVersionRecord ProgramVersion;

// Takes the current folder out of the DLL search order and limits it to the system folder.
void HardenDllSearch();

// Backup, restore, security and symbolic-link privileges, each where the account holds it.
// False when the process token cannot be opened.
bool EnableBackupPrivileges();
bool EnablePrivilege(HANDLE token, const wchar_t* name, bool enable);

bool ReadOwnVersion(const wchar_t* programPath, ProgramVersionRecord* record);
