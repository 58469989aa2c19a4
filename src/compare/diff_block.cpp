#include "compare/diff_block.h"

#include <cstring>

#include "base/run_options.h"
#include "console/console_output.h"
#include "console/control_handler.h"
#include "console/status_line.h"

namespace {

// Equal stretches are decided by memcmp a chunk at a time; the stop flag is polled between chunks.
constexpr uint32_t kChunk = 4096;

char Hex(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

char* PutOffset(char* p, uint64_t offset, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *p++ = Hex(static_cast<unsigned>(offset >> shift));
    return p;
}

// Lines are formatted here and written in large pieces: a block may list 10000 of them.
struct ListingBuffer {
    static constexpr uint32_t kCapacity = 65536;
    static constexpr uint32_t kLongestLine = 1 + 16 + 2 + 5 + 2;  // "\r" offset ": " "00 FF" "\r\n"
    char bytes[kCapacity];
    uint32_t used = 0;
    int digits = 8;

    void Flush() {
        WriteOut(bytes, used);
        used = 0;
        NoteListingBuffered(false);
    }

    void Line(uint64_t offset, uint8_t a, uint8_t b) {
        if (used + kLongestLine > kCapacity) Flush();
        if (used == 0) NoteListingBuffered(true);
        char* p = bytes + used;
        *p++ = '\r';
        p = PutOffset(p, offset, digits);
        *p++ = ':';
        *p++ = ' ';
        *p++ = Hex(a >> 4);
        *p++ = Hex(a);
        *p++ = ' ';
        *p++ = Hex(b >> 4);
        *p++ = Hex(b);
        *p++ = '\r';
        *p++ = '\n';
        used = static_cast<uint32_t>(p - bytes);
    }
};

// All lines of a pair have the width that its largest offset needs.
int OffsetDigits(uint64_t compareLength) {
    if (compareLength > 0xFFFFFFFFFFFFull) return 16;
    if (compareLength > 0xFFFFFFFFull) return 12;
    return 8;
}

}  // namespace

uint32_t DiffBlock(const uint8_t* buffer1, const uint8_t* buffer2, uint32_t length, uint64_t blockOffset,
                   uint64_t compareLength) {
    static ListingBuffer out;  // main thread only; too large for the stack of every caller
    out.used = 0;
    out.digits = OffsetDigits(compareLength);
    const bool quiet = Options.quiet;
    bool listing = true;
    bool statusCleared = false;
    uint32_t count = 0;

    for (uint32_t chunk = 0; chunk < length; chunk += kChunk) {
        if (InterruptFlag.load(std::memory_order_relaxed)) break;
        uint32_t end = length - chunk < kChunk ? length : chunk + kChunk;
        if (memcmp(buffer1 + chunk, buffer2 + chunk, end - chunk) == 0) continue;
        for (uint32_t word = chunk; word < end; word += 8) {
            uint32_t wordEnd = end - word < 8 ? end : word + 8;
            if (wordEnd - word == 8) {
                uint64_t a, b;
                memcpy(&a, buffer1 + word, 8);
                memcpy(&b, buffer2 + word, 8);
                if (a == b) continue;
            }
            for (uint32_t i = word; i < wordEnd; ++i) {
                if (buffer1[i] == buffer2[i]) continue;
                if (!quiet && listing) {
                    // The listing starts on a clean line; its own lines leave the cursor on one.
                    if (!statusCleared) {
                        ClearStatusLine();
                        statusCleared = true;
                    }
                    out.Line(blockOffset + i, buffer1[i], buffer2[i]);
                }
                if (++count == kDiffLineLimit) {
                    if (!quiet) {
                        out.Flush();
                        PrintOut("found > 10000 diffs -> no more printing\n");
                    }
                    listing = false;
                }
            }
        }
    }
    out.Flush();
    if (count != 0 && !listing) PrintOut("%u diffs found\n", count);
    return count;
}

void PrintUnreadRange(uint64_t first, uint64_t last, int side, uint64_t compareLength) {
    char line[64];
    int digits = OffsetDigits(compareLength);
    char* p = line;
    *p++ = '\r';
    p = PutOffset(p, first, digits);
    *p++ = '-';
    p = PutOffset(p, last, digits);
    const char tail[] = ": not read in file";
    memcpy(p, tail, sizeof(tail) - 1);
    p += sizeof(tail) - 1;
    *p++ = static_cast<char>('1' + side);
    *p++ = '\r';
    *p++ = '\n';
    WriteOut(line, static_cast<uint32_t>(p - line));
}

bool IsAllZero(const uint8_t* bytes, uint32_t length) {
    uint32_t at = 0;
    for (; at + 64 <= length; at += 64) {
        uint64_t words[8];
        memcpy(words, bytes + at, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3] | words[4] | words[5] | words[6] | words[7]) != 0) return false;
    }
    for (; at < length; ++at) {
        if (bytes[at] != 0) return false;
    }
    return true;
}
