#include "compare/read_until.h"

#include "platform/win_api.h"

ReadUntilResult ReadUntil(HANDLE handle, uint8_t* buffer, uint32_t length, uint32_t due, uint64_t offset,
                          uint32_t sectorSize) {
    uint32_t filled = 0;
    for (;;) {
        OVERLAPPED at = {};
        if (offset != kWhereItStands) {
            at.Offset = static_cast<DWORD>(offset + filled);
            at.OffsetHigh = static_cast<DWORD>((offset + filled) >> 32);
        }
        DWORD got = 0;
        if (!win.ReadFile(handle, buffer + filled, length - filled, &got,
                          offset != kWhereItStands ? &at : nullptr)) {
            return {filled, win.GetLastError()};
        }
        filled += got;
        if (got == 0 || filled >= due || (sectorSize != 0 && filled % sectorSize != 0)) return {filled, ERROR_SUCCESS};
    }
}
