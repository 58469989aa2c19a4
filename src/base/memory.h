// Heap blocks and compare buffers for the whole program.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// The process heap, recorded at start before the first allocation.
extern HANDLE ProcessHeap;

void RecordProcessHeap();

// A zeroed block from the process heap. Never null: when the heap is exhausted it sleeps, beeps
// and tries again until memory is there, so callers do not test the result.
void* AllocZeroed(uint64_t bytes);
void FreeBlock(void* block);

// Page-aligned, zero-filled virtual memory, as unbuffered reads need a sector-aligned buffer.
// Null when the system refuses the reservation.
void* ReserveBuffer(uint64_t bytes);
void ReleaseBuffer(void* block);

// The size ReserveBuffer reserves for a request: whole pages, one more when the request already is.
uint64_t ReservedBufferSize(uint64_t bytes);
