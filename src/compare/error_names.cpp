#include "compare/error_names.h"

#include "platform/win_api.h"

namespace {

struct ErrorWord {
    uint32_t code;
    const char* word;
};

// The errors that file, folder and device access meet in practice.
const ErrorWord kErrorWords[] = {
    {1, "INVALID_FUNCTION"},
    {2, "FILE_NOT_FOUND"},
    {3, "PATH_NOT_FOUND"},
    {5, "ACCESS_DENIED"},
    {19, "WRITE_PROTECT"},
    {21, "NOT_READY"},
    {23, "CRC"},
    {27, "SECTOR_NOT_FOUND"},
    {32, "SHARING_VIOLATION"},
    {33, "LOCK_VIOLATION"},
    {34, "WRONG_DISK"},
    {38, "HANDLE_EOF"},
    {53, "BAD_NETPATH"},
    {54, "NETWORK_BUSY"},
    {55, "DEV_NOT_EXIST"},
    {64, "NETNAME_DELETED"},
    {112, "DISK_FULL"},
    {121, "SEM_TIMEOUT"},
    {123, "INVALID_NAME"},
    {144, "ERROR_DIR_NOT_ROOT"},
    {183, "ERROR_ALREADY_EXISTS"},
    {206, "FILENAME_EXCED_RANGE"},
    {483, "DEVICE_HARDWARE_ERROR"},
    {1006, "FILE_INVALID"},
    {1110, "MEDIA_CHANGED"},
    {1112, "NO_MEDIA_IN_DRIVE"},
    {1117, "IO_DEVICE"},
    {1127, "DISK_OPERATION_FAILED"},
    {1128, "DISK_RESET_FAILED"},
    {1392, "FILE_CORRUPT"},
    {1450, "NO_SYSTEM_RESOURCES"},
    {1920, "CANT_ACCESS_FILE"},
    {1921, "CANT_RESOLVE_FILENAME"},
};

// Both reader threads may name an unlisted error at once; each needs its own text.
thread_local char unlistedText[64];

}  // namespace

const char* ErrorName(uint32_t code) {
    for (const ErrorWord& entry : kErrorWords) {
        if (entry.code == code) return entry.word;
    }
    // Written by hand rather than formatted: naming an error must not itself change the last error.
    char digits[16];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + code % 10);
        code /= 10;
    } while (code != 0);
    char* text = unlistedText;
    for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = 0;
    return text;
}

const char* LastErrorName() { return ErrorName(win.GetLastError()); }
