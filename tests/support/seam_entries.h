// The seam's entries as numbers and names, and what each returns when it fails: shared by the
// layers that wrap every entry (the fault injector, the strict layer).
#pragma once

#include <cstring>
#include <type_traits>

#include "platform/win_api.h"

namespace seam_entries {

enum EntryId : int {
#define QVB_SEAM(name) kEntry_##name,
#include "platform/win_api_entries.h"
#undef QVB_SEAM
    kEntryCount
};

inline const char* const kNames[] = {
#define QVB_SEAM(name) #name,
#include "platform/win_api_entries.h"
#undef QVB_SEAM
};

inline bool NameIs(int id, const char* name) { return strcmp(kNames[id], name) == 0; }

// Whether the entry is one of `names`.
template <size_t N>
bool NameIn(int id, const char* const (&names)[N]) {
    for (const char* name : names) {
        if (NameIs(id, name)) return true;
    }
    return false;
}

// The bcrypt.dll calls answer with an NTSTATUS: 0 or positive succeeds, negative fails.
inline bool ReturnsStatus(int id) { return strncmp(kNames[id], "BCrypt", 6) == 0; }

// Whether a result of the entry is a success: a handle or pointer that is one, a status that is
// no failure, a nonzero value.
template <typename R>
bool Succeeded(int id, R result) {
    if constexpr (std::is_pointer_v<R>) {
        return result != nullptr && result != INVALID_HANDLE_VALUE;
    } else if constexpr (std::is_same_v<R, NTSTATUS>) {
        return ReturnsStatus(id) ? result >= 0 : result != 0;
    } else {
        return result != 0;
    }
}

// What a failing call returns: its documented failure value.
template <typename R>
R FailureValue(int id) {
    if constexpr (std::is_pointer_v<R>) {
        if (NameIs(id, "CreateFileW") || NameIs(id, "FindFirstFileW") || NameIs(id, "FindFirstFileExW") ||
            NameIs(id, "FindFirstVolumeW") || NameIs(id, "SetupDiGetClassDevsW")) {
            return reinterpret_cast<R>(INVALID_HANDLE_VALUE);
        }
        return nullptr;
    } else if constexpr (std::is_same_v<R, DWORD>) {
        if (NameIs(id, "GetFileSize")) return INVALID_FILE_SIZE;
        if (NameIs(id, "GetFileAttributesW")) return INVALID_FILE_ATTRIBUTES;
        if (NameIs(id, "WaitForSingleObject")) return WAIT_FAILED;
        if (NameIs(id, "SetFilePointer")) return INVALID_SET_FILE_POINTER;
        if (NameIs(id, "GetFileType")) return FILE_TYPE_UNKNOWN;
        if (NameIs(id, "SuspendThread") || NameIs(id, "ResumeThread")) return static_cast<DWORD>(-1);
        return 0;
    } else if constexpr (std::is_same_v<R, NTSTATUS>) {
        constexpr NTSTATUS kStatusUnsuccessful = static_cast<NTSTATUS>(0xC0000001);
        return ReturnsStatus(id) ? kStatusUnsuccessful : 0;
    } else {
        return R{};
    }
}

}  // namespace seam_entries
