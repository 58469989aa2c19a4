// Reading one block of each side, with the recovery from read errors, on a thread per side.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// Bytes the last successful read of each side delivered for the current block. A block read
// sector by sector counts as whole: its unreadable sectors are zero.
extern uint32_t BytesRead[2];

// Reads the block of side 1 into the first compare buffer: sector by sector after a media error,
// reopening after a lost share or medium, asking the user after anything else. Nonzero when the
// buffer holds the block, 0 when the reading was given up.
uint32_t ReadSide1(uint32_t readLength);

// Reads the block of side 2 into the second compare buffer, asking the user after an error.
uint32_t ReadSide2(uint32_t readLength);

// Reads `length` bytes one sector of side 1 at a time, each with up to RetryCount attempts; an
// unreadable sector stays zero. 1 when at least one sector was read.
int ReadSectorBySector(HANDLE handle, uint8_t* buffer, uint32_t length);

uint64_t CurrentFilePosition(HANDLE handle);
BOOL SeekTo(HANDLE handle, uint64_t position);

// A lost network name, a changed or missing medium: the open handle is worth replacing.
bool IsReopenableError(DWORD code);

// For reading both sides at once: the reader threads are made on first use, once per run, and
// handed one block at a time. `side` is 0 or 1.
// When no thread can be made, the read runs on the calling thread instead.
void StartSideRead(int side, uint32_t readLength);
uint32_t WaitSideRead(int side);  // the result of ReadSide1 or ReadSide2 for that block
void StopReaderThreads();
