#include "base/memory.h"

#include "platform/win_api.h"

HANDLE ProcessHeap = nullptr;

void RecordProcessHeap() { ProcessHeap = win.GetProcessHeap(); }

void* AllocZeroed(uint64_t bytes) {
    if (!ProcessHeap) RecordProcessHeap();
    for (;;) {
        void* block = win.HeapAlloc(ProcessHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes));
        if (block) return block;
        // Out of memory is not an error the user can act on from here: tell them and wait.
        win.Sleep(500);
        win.Beep(1000, 3000);
    }
}

void FreeBlock(void* block) {
    if (block) win.HeapFree(ProcessHeap, 0, block);
}

uint64_t ReservedBufferSize(uint64_t bytes) { return (bytes + 4096) & ~uint64_t{4095}; }

void* ReserveBuffer(uint64_t bytes) {
    uint64_t size = ReservedBufferSize(bytes);
    if (size < bytes) return nullptr;  // wrapped around: no such reservation exists
    return win.VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseBuffer(void* block) {
    if (block) win.VirtualFree(block, 0, MEM_RELEASE);
}
