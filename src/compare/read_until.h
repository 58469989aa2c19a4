// The one way the program reads a stretch of a file or device.
#pragma once

#include <cstdint>

#include "platform/windows.h"

struct ReadUntilResult {
    uint32_t bytes;  // delivered, whatever ended the reading
    DWORD error;     // ERROR_SUCCESS, or why the last read failed
};

// Reads from where the handle stands, rather than from an offset of its own.
constexpr uint64_t kWhereItStands = UINT64_MAX;

// Reads into `buffer`, asking for what is still missing of `length`, from `offset` on (or from
// where the handle stands), until `due` bytes came, the end of the file, or an error; at least
// one read is made. A read may deliver less than asked and the next go on from there (networks and
// user-mode file systems do so where an error begins); but an unbuffered handle, whose
// `sectorSize` is given (0 for a buffered one), delivers part of a sector only at the end of the
// file, and a read from there would be refused: that ends the reading too.
ReadUntilResult ReadUntil(HANDLE handle, uint8_t* buffer, uint32_t length, uint32_t due, uint64_t offset,
                          uint32_t sectorSize);
