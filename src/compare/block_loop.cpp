#include "compare/block_loop.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/device_size.h"
#include "compare/diff_block.h"
#include "compare/long_turns.h"
#include "compare/read_ahead.h"
#include "compare/reader_threads.h"
#include "compare/side_readers.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

// One block of the compared range.
struct BlockPlan {
    uint64_t position;    // where it begins in both sides
    uint32_t length;      // the bytes delivered from the position on, `lead` included
    uint32_t readLength;  // the bytes read: unbuffered reads take whole sectors
    uint32_t lead;        // of the first block: the bytes before the start offset, not compared
    bool hole;            // wholly in a hole of a side the option names: zero, not read
};

bool InHoleOfNamedSide(PairRun* pair, uint64_t begin, uint64_t end) {
    return InHole(&pair->holes[0], begin, end) || InHole(&pair->holes[1], begin, end);
}

BlockPlan PlanBlock(const RunState& run, uint64_t block, PairRun* pair) {
    BlockPlan plan;
    plan.position = run.setup.ReadStart + block * run.setup.BlockSize;
    plan.length = plan.readLength = run.setup.BlockSize;
    plan.lead = block == 0 ? static_cast<uint32_t>(run.setup.StartOffset - run.setup.ReadStart) : 0;
    if (block == run.pair.BlockCount - 1) {
        plan.length = static_cast<uint32_t>(run.pair.CompareLength - plan.position);
        plan.readLength = RoundUp(plan.length, LargerSectorSize(run));
    }
    plan.hole = InHoleOfNamedSide(pair, plan.position, plan.position + plan.length);
    return plan;
}

void ShowProgress(RunState* run, const PairRun& pair, uint64_t position) {
    uint32_t elapsed = win.GetTickCount() - pair.startTime;
    if (run->counts.LastProgressTime != 0 && elapsed - run->counts.LastProgressTime <= 33) return;
    run->counts.LastProgressTime = elapsed;
    if (!((elapsed > 100 && run->pair.CompareLength > 1048576) || elapsed > 1000)) return;
    uint16_t column = run->pair.LengthUnknown
                          ? WriteStatusAt(0, " %u MB compared", static_cast<uint32_t>(position >> 20))
                          : WriteStatusAt(0, " %u MB of %u MB compared", static_cast<uint32_t>(position >> 20),
                                          run->pair.CompareLengthMiB);
    WriteStatusAt(column, " (%s)           ", SpeedText(position - run->setup.StartOffset, elapsed));
}

// A side that is not the null device and delivered less than the block: the file shrank or
// changed while it was compared. Only what both sides delivered may be compared.
uint32_t DeliveredLength(RunState* runState, const BlockPlan& plan) {
    const RunState& run = *runState;
    uint32_t length = plan.length;
    for (int side = 0; side < 2; ++side) {
        const uint32_t got = run.pair.BytesRead[side];
        if (run.setup.SideIsNull[side] || got >= plan.length) continue;
        PrintErr("\nfile%i ended early: %u of %u bytes read at offset %I64u -> abort\n", side + 1, got, plan.length,
                 plan.position);
        NoteReason(&runState->pair, "file%i ended early at offset %llu", side + 1,
                   static_cast<unsigned long long>(plan.position + got));
        if (got < length) length = got;
    }
    return length;
}

// A pair of unknown length ends in the block where a side delivers less than the block: both
// sides are compared up to the shorter one, and where each ended is kept for the size lines.
uint32_t LengthToFirstEnd(const RunState& run, const BlockPlan& plan, PairRun* pair) {
    uint32_t got[2];
    for (int side = 0; side < 2; ++side) {
        const uint32_t read = run.pair.BytesRead[side];
        got[side] = run.setup.SideIsNull[side] || read > plan.length ? plan.length : read;
    }
    uint32_t length = got[0] < got[1] ? got[0] : got[1];
    if (length == plan.length) return length;
    for (int side = 0; side < 2; ++side) {
        // The null device ends with the other side; a side that ended before the start offset
        // delivered nothing of the range.
        uint64_t end = plan.position + (run.setup.SideIsNull[side] ? length : got[side]);
        pair->sideEnds[side] = end > run.setup.StartOffset ? end : run.setup.StartOffset;
    }
    return length;
}

// Both sides of one block, at the same time when the run reads in parallel; a small pair that a
// worker read is in its buffers already. False when a reader gave up.
bool ReadBothSides(RunState* run, const PairSides& sides, uint32_t readLength) {
    for (int side = 0; side < 2; ++side) {
        run->pair.BytesRead[side] = sides.read ? sides.delivered[side] : 0;
        run->pair.Unread[side].count = 0;
    }
    if (sides.read) return true;
    SideRead result1, result2;
    if (run->setup.ParallelReads) {
        StartSideRead(run, 0, readLength);
        StartSideRead(run, 1, readLength);
        result1 = WaitSideRead(0);
        result2 = WaitSideRead(1);
    } else {
        // One after the other: the handing over to a thread and back would cost more than it
        // buys, so this thread reads both, side 1 first, exactly as the readers would.
        result1 = ReadSide(run, 0, readLength);
        result2 = ReadSide(run, 1, readLength);
    }
    return result1 == SideRead::kWhole && result2 == SideRead::kWhole;
}

// The compare buffers of the block being compared point into a turn's buffers for a while; the
// run's own come back afterwards.
struct OwnBuffers {
    RunState* run;
    uint8_t* own[2];
    explicit OwnBuffers(RunState* r) : run(r), own{r->setup.CompareBuffers[0], r->setup.CompareBuffers[1]} {}
    void Restore() {
        run->setup.CompareBuffers[0] = own[0];
        run->setup.CompareBuffers[1] = own[1];
    }
    ~OwnBuffers() { Restore(); }
};

// Reads the turn's blocks of side 1, then those of side 2, into the turn's buffers. A read that
// fails ends the turn before its block, which is then read and recovered on its own, in order, as
// if no turn had been taken; a side that ends stops its turn there. Side 2 reads no further than
// side 1 got. Returns the blocks both sides have.
uint32_t ReadTurn(RunState* run, LongTurn* turn, const BlockPlan* plans) {
    uint32_t reach = turn->count;
    run->pair.DeferErrors = true;
    for (int side = 0; side < 2; ++side) {
        uint32_t b = 0;
        for (; b < reach && !StopRequested(); ++b) {
            const BlockPlan& plan = plans[b];
            run->pair.BlockPosition = plan.position;
            run->setup.CompareBuffers[side] = turn->data[side] + static_cast<size_t>(b) * run->setup.BlockSize;
            run->pair.BytesRead[side] = 0;
            run->pair.Unread[side].count = 0;
            const SideRead result = run->setup.SideIsNull[side] ? SideRead::kWhole : ReadSide(run, side, plan.readLength);
            if (result == SideRead::kDeferred) break;
            turn->whole[side][b] = result == SideRead::kWhole;
            turn->bytesRead[side][b] = run->pair.BytesRead[side];
            turn->unread[side][b] = run->pair.Unread[side];
            // A side that ended reads nothing more of this turn.
            if (!run->setup.SideIsNull[side] && turn->bytesRead[side][b] < plan.length) {
                ++b;
                break;
            }
        }
        reach = b;
    }
    run->pair.DeferErrors = false;
    return reach;
}

// The block `b` of the turn as if both sides had just read it.
bool TakeTurnBlock(RunState* run, const LongTurn& turn, uint32_t b) {
    for (int side = 0; side < 2; ++side) {
        // The null device keeps its own buffer of zeros.
        if (!run->setup.SideIsNull[side]) {
            run->setup.CompareBuffers[side] = turn.data[side] + static_cast<size_t>(b) * run->setup.BlockSize;
        }
        run->pair.BytesRead[side] = turn.bytesRead[side][b];
        run->pair.Unread[side] = turn.unread[side][b];
    }
    return turn.whole[0][b] && turn.whole[1][b];
}

// Whether the bytes of [0, length) that neither side lacks differ anywhere.
bool ReadBytesDiffer(const uint8_t* a, const uint8_t* b, uint32_t length, const UnreadRanges& r1,
                     const UnreadRanges& r2) {
    uint32_t at = 0, i1 = 0, i2 = 0;
    while (at < length) {
        while (i1 < r1.count && r1.end[i1] <= at) ++i1;
        while (i2 < r2.count && r2.end[i2] <= at) ++i2;
        uint32_t next = length;
        if (i1 < r1.count) {
            if (r1.begin[i1] <= at) {
                at = r1.end[i1];
                continue;
            }
            if (r1.begin[i1] < next) next = r1.begin[i1];
        }
        if (i2 < r2.count) {
            if (r2.begin[i2] <= at) {
                at = r2.end[i2];
                continue;
            }
            if (r2.begin[i2] < next) next = r2.begin[i2];
        }
        if (memcmp(a + at, b + at, next - at) != 0) return true;
        at = next;
    }
    return false;
}

// An offset as the listing writes it, at least eight hexadecimal digits.
const char* HexOffset(char* text, uint64_t value) {
    char digits[17];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 15];
        value >>= 4;
    } while (value != 0);
    int width = count < 8 ? 8 : count;
    for (int i = 0; i < width; ++i) text[i] = i < width - count ? '0' : digits[width - 1 - i];
    text[width] = 0;
    return text;
}

// The compared part of a block: each side's bytes and unread ranges from the first compared byte.
struct ComparedBytes {
    const uint8_t* data[2];
    const UnreadRanges* unread[2];
    uint32_t length;
    uint64_t listedAt;  // where its first byte stands in the listing
};

// Names what a side could not read of this block and tells whether what was read differs; the
// listing has shown the unread bytes as zeros.
void AccountUnread(RunState* run, const ComparedBytes& bytes, PairRun* pair) {
    const uint32_t length = bytes.length;
    const uint64_t listedAt = bytes.listedAt;
    for (int side = 0; side < 2; ++side) {
        const UnreadRanges& ranges = *bytes.unread[side];
        for (uint32_t i = 0; i < ranges.count && ranges.begin[i] < length; ++i) {
            uint32_t end = ranges.end[i] < length ? ranges.end[i] : length;
            pair->unreadBytes += end - ranges.begin[i];
            char first[20], last[20];
            NoteReason(&run->pair, "not read in file%i from %s to %s", side + 1,
                       HexOffset(first, listedAt + ranges.begin[i]), HexOffset(last, listedAt + end - 1));
            if (!Options.quiet) {
                PrintUnreadRange(listedAt + ranges.begin[i], listedAt + end - 1, side, run->pair.CompareLength);
            }
        }
    }
    if (ReadBytesDiffer(bytes.data[0], bytes.data[1], length, *bytes.unread[0], *bytes.unread[1])) {
        pair->readBytesDiffer = true;
    }
}

// The ranges from `lead` bytes into the block on, counted from there.
void RangesAfter(const UnreadRanges& ranges, uint32_t lead, UnreadRanges* after) {
    after->count = 0;
    for (uint32_t i = 0; i < ranges.count; ++i) {
        if (ranges.end[i] <= lead) continue;
        after->begin[after->count] = ranges.begin[i] > lead ? ranges.begin[i] - lead : 0;
        after->end[after->count++] = ranges.end[i] - lead;
    }
}

// -sz1 and -sz2 leave out blocks that are all zero in file 1 or file 2, -sz those of either. A
// block with unread bytes is always compared: zeros in their place are no data.
bool SkippedAsZero(const ComparedBytes& bytes) {
    for (int side = 0; side < 2; ++side) {
        if (SkipsZeroBlocksOf(side) && IsAllZero(bytes.data[side], bytes.length)) return true;
    }
    return false;
}

// Compares the `length` bytes both sides delivered of the block, from the start offset on, or
// leaves them out as zero.
void CompareBlock(RunState* run, const BlockPlan& plan, uint32_t length, PairRun* pair) {
    if (length <= plan.lead) return;
    // Listed offsets count from the start offset.
    ComparedBytes bytes = {{run->setup.CompareBuffers[0] + plan.lead, run->setup.CompareBuffers[1] + plan.lead},
                           {&run->pair.Unread[0], &run->pair.Unread[1]},
                           length - plan.lead,
                           plan.position + plan.lead - run->setup.StartOffset};
    UnreadRanges after[2];
    for (int side = 0; side < 2 && plan.lead != 0; ++side) {
        RangesAfter(run->pair.Unread[side], plan.lead, &after[side]);
        bytes.unread[side] = &after[side];
    }
    bool unread = bytes.unread[0]->count != 0 || bytes.unread[1]->count != 0;
    if (!unread && SkippedAsZero(bytes)) {
        pair->skippedBytes += bytes.length;
        return;
    }
    const uint64_t found = DiffBlock(bytes.data[0], bytes.data[1], bytes.length, bytes.listedAt,
                                     run->pair.CompareLength);
    pair->differences += found;
    // Without unread bytes every difference is one of bytes both sides delivered.
    if (unread) {
        AccountUnread(run, bytes, pair);
    } else if (found != 0) {
        pair->readBytesDiffer = true;
    }
}

}  // namespace

void FindHoles(const RunState& run, PairRun* pair) {
    if (run.pair.LengthUnknown || run.paths.device[0] || run.paths.device[1]) return;
    for (int side = 0; side < 2; ++side) {
        HANDLE handle = run.pair.SideHandle[side];
        if (!SkipsZeroBlocksOf(side) || handle == INVALID_HANDLE_VALUE) continue;
        StartAllocatedRanges(&pair->holes[side], handle, run.pair.CompareLength);
    }
}

namespace {

// Runs one planned block: read, compared, and the loop's shared tail. `taken`, where the block has
// been read already (a turn, the read-ahead), is how that read ended. False when the pair ends
// with this block.
bool RunBlock(RunState* run, const PairSides& sides, const BlockPlan& plan, const bool* taken, bool showProgress,
              PairRun* pair) {
    run->pair.BlockPosition = plan.position;
    uint32_t length = plan.length;
    if (plan.hole) {
        // Zero by definition: neither side is read, and both move on to the next block.
        pair->skippedBytes += length - plan.lead;
        pair->holeBytes += length - plan.lead;
        bool moved = SeekSide(run->pair.SideHandle[0], plan.position + plan.readLength, 0) &&
                     SeekSide(run->pair.SideHandle[1], plan.position + plan.readLength, 1);
        if (!moved) {
            NoteReason(&run->pair, "a side could not be positioned at offset %llu",
                       static_cast<unsigned long long>(plan.position + plan.readLength));
            pair->end = LoopEnd::ReaderGaveUp;
            return false;
        }
    } else {
        bool read = taken ? *taken : ReadBothSides(run, sides, plan.readLength);
        if (!read) {
            PrintErr("\n aborted\n");
            NoteReason(&run->pair, "reading given up at offset %llu", static_cast<unsigned long long>(plan.position));
            pair->end = LoopEnd::ReaderGaveUp;
            return false;
        }
        length = run->pair.LengthUnknown ? LengthToFirstEnd(*run, plan, pair) : DeliveredLength(run, plan);
        CompareBlock(run, plan, length, pair);
    }
    const uint64_t reached = plan.position + length;
    pair->comparedTo = reached > run->setup.StartOffset ? reached : run->setup.StartOffset;
    if (length < plan.length) {
        pair->end = run->pair.LengthUnknown ? LoopEnd::Completed : LoopEnd::ShortRead;
        return false;
    }
    if (showProgress && LastControlEvent.load(std::memory_order_relaxed) == 0) {
        ShowProgress(run, *pair, pair->comparedTo);
    }
    if (StopRequested()) {
        pair->end = LoopEnd::Stopped;
        return false;
    }
    return true;
}

// A block that a turn or the read-ahead did not bring: both sides back to its start (one may have
// read past it), then read and recovered on its own, into the run's own buffers. False when the
// pair ends with it.
bool RunBlockOnItsOwn(RunState* run, const PairSides& sides, const BlockPlan& plan, OwnBuffers* own, bool showProgress,
                      PairRun* pair) {
    if (!SeekSide(run->pair.SideHandle[0], plan.position, 0) || !SeekSide(run->pair.SideHandle[1], plan.position, 1)) {
        pair->end = LoopEnd::ReaderGaveUp;
        return false;
    }
    if (StopRequested()) {
        pair->end = LoopEnd::Stopped;
        return false;
    }
    own->Restore();
    if (showProgress) PrintOut("\r");
    return RunBlock(run, sides, plan, nullptr, showProgress, pair);
}

// The readers may still write into their buffers after a stop: the read-ahead is not used again.
void StopReading(RunState* run, ReadAhead* ahead, uint32_t* failedOpens) {
    bool opened = true;
    if (!StopReadAhead(ahead, &opened)) run->setup.NetworkSide = false;
    if (!opened) ++*failedOpens;
}

// The blocks taken from the read-ahead in order. One that did not arrive whole is read here the
// usual way, with its recovery, by handles placed at its start; the read-ahead starts again after
// it. Readers that cannot open their handles get a few chances in a pair, not one at every block.
void CompareReadAhead(RunState* run, const PairSides& sides, ReadAhead* ahead, bool showProgress, PairRun* pair) {
    constexpr uint32_t kMostFailedOpens = 3;
    OwnBuffers own(run);
    bool on = true;
    uint32_t failedOpens = 0;
    StartReadAhead(ahead, *run, 0);
    for (uint64_t block = 0; block < run->pair.BlockCount; ++block) {
        const BlockPlan plan = PlanBlock(*run, block, pair);
        bool read = on && TakeAheadBlock(ahead, block, run);
        if (read) {
            if (showProgress) PrintOut("\r");
            bool going = RunBlock(run, sides, plan, &read, showProgress, pair);
            ReleaseAheadBlock(ahead, block);
            if (going) continue;
            break;
        }
        if (on) StopReading(run, ahead, &failedOpens);
        on = false;
        if (!RunBlockOnItsOwn(run, sides, plan, &own, showProgress, pair)) return;
        if (run->setup.NetworkSide && failedOpens <= kMostFailedOpens && block + 1 < run->pair.BlockCount) {
            StartReadAhead(ahead, *run, block + 1);
            on = true;
        }
    }
    if (on) StopReading(run, ahead, &failedOpens);
}

}  // namespace

void CompareBlocks(RunState* run, const PairSides& sides, PairRun* pair) {
    const bool showProgress = !Options.quiet && !(Session && Session->outputRedirected);
    // Read-ahead and long turns for a pair of several blocks that is read here, of known length
    // and without holes (their ranges are asked block after block, once).
    const bool severalBlocks = !sides.read && !run->pair.LengthUnknown && run->pair.BlockCount > 1 &&
                               !pair->holes[0].active && !pair->holes[1].active;
    if (severalBlocks && !run->setup.SideIsNull[0] && !run->setup.SideIsNull[1]) {
        if (ReadAhead* ahead = RunReadAhead(run)) {
            CompareReadAhead(run, sides, ahead, showProgress, pair);
            return;
        }
    }
    LongTurn* turn = severalBlocks && run->setup.LongTurns ? RunTurn(run) : nullptr;
    OwnBuffers own(run);
    BlockPlan plans[LongTurn::kMostBlocks];
    for (uint64_t block = 0; block < run->pair.BlockCount;) {
        uint64_t left = run->pair.BlockCount - block;
        uint32_t count = turn ? static_cast<uint32_t>(left < turn->capacity ? left : turn->capacity) : 1;
        for (uint32_t b = 0; b < count; ++b) plans[b] = PlanBlock(*run, block + b, pair);
        uint32_t ready = count;
        bool fast = false;
        if (turn) {
            turn->count = count;
            const uint32_t began = win.GetTickCount();
            ready = ReadTurn(run, turn, plans);
            fast = count == turn->capacity && ready == count && win.GetTickCount() - began < LongTurn::kFastMs;
        }
        for (uint32_t b = 0; b < ready; ++b, ++block) {
            if (showProgress) PrintOut("\r");
            const bool read = turn ? TakeTurnBlock(run, *turn, b) : false;
            if (!RunBlock(run, sides, plans[b], turn ? &read : nullptr, showProgress, pair)) return;
        }
        if (fast) {
            // Read at memory speed (the page cache, a fast solid-state drive): the turns save no
            // seek worth their cache misses, and the rest of the pair is read block by block.
            turn = nullptr;
            own.Restore();
        }
        if (!turn || ready == count) continue;
        // The block where a read failed or a stop came.
        if (!RunBlockOnItsOwn(run, sides, plans[ready], &own, showProgress, pair)) return;
        ++block;
    }
}
