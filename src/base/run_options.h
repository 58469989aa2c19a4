// The settings of the command line, written by the option loop and read by the whole run.
#pragma once

#include <cstdint>

struct RunOptions {
    bool quiet;
    bool totallyQuiet;
    bool recurse;
    bool parseReparsePoints;
    bool noWait;
    bool ignoreSizes;
    bool skipZero;
    bool skipZero1;
    bool skipZero2;
    uint64_t firstBytes;  // 0: no limit
    uint64_t startOffset;
    int32_t RetryCount;  // read attempts, not retries: "-r:10" gives 11
    bool bothWays;            // -b: entries that only tree 2 has are named too
    const wchar_t* resultFile;  // -o:file, or null: the list of every entry and its outcome
    const wchar_t* sumFile;     // -h:file, or null: the SHA-256 of every pair found identical
    const wchar_t* checkFile;   // -c:file, or null: the sums a folder or file is checked against
};

constexpr int32_t kDefaultRetryCount = 11;
constexpr RunOptions kDefaultRunOptions = {false, false, false, false, false, false,
                                           false, false, false, 0,     0,     kDefaultRetryCount,
                                           false, nullptr, nullptr, nullptr};

extern RunOptions Options;

// Whether zero blocks of side 0 (file 1) or side 1 (file 2) are left out: -sz names both.
inline bool SkipsZeroBlocksOf(int side) {
    return Options.skipZero || (side == 0 ? Options.skipZero1 : Options.skipZero2);
}
inline bool SkipsZeroBlocks() { return SkipsZeroBlocksOf(0) || SkipsZeroBlocksOf(1); }
