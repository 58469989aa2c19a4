#include "compare/long_turns.h"

#include "base/memory.h"
#include "compare/pair_hash.h"
#include "compare/reader_threads.h"
#include "console/control_handler.h"
#include "platform/win_api.h"

namespace {

// Both sides' second blocks in less than this, 2 MiB at 1 MiB blocks, came at 500 MB/s or more:
// from no disk that seeks (one seek between the sides alone takes longer), and with room for the
// moments a busy system takes.
constexpr uint64_t kFastProbeMicroseconds = 4000;

// The run's turn buffers, reserved on first use; null where they cannot be had (one block at a
// time then, for the rest of the run).
LongTurn* RunTurn(RunState* run) {
    BlockSources* sources = &run->sources;
    if (sources->turn || sources->turnsRefused) return sources->turn;
    auto* turn = static_cast<LongTurn*>(AllocZeroed(sizeof(LongTurn)));
    uint64_t blocks = LongTurn::kTurnBytes / run->setup.BlockSize;
    if (blocks > LongTurn::kMostBlocks) blocks = LongTurn::kMostBlocks;
    if (blocks < 2) blocks = 2;
    turn->capacity = static_cast<uint32_t>(blocks);
    for (uint8_t*& data : turn->data) {
        // A spare byte behind the last block, as the compare buffers have.
        data = static_cast<uint8_t*>(ReserveBuffer(blocks * run->setup.BlockSize + 1));
    }
    sources->turn = turn;
    if (!turn->data[0] || !turn->data[1]) {
        ReleaseTurn(sources);
        sources->turnsRefused = true;
    }
    return sources->turn;
}

uint64_t Microseconds() {
    LARGE_INTEGER count, frequency;
    if (!win.QueryPerformanceCounter(&count) || !win.QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(count.QuadPart) / static_cast<uint64_t>(frequency.QuadPart) * 1000000 +
           static_cast<uint64_t>(count.QuadPart) % static_cast<uint64_t>(frequency.QuadPart) * 1000000 /
               static_cast<uint64_t>(frequency.QuadPart);
}

// Reads the turn's blocks of side 1, then those of side 2, into the turn's buffers. A read that
// fails ends the turn before its block, which is then read and recovered on its own, in order, as
// if no turn had been taken; a side that ends stops its turn there. Side 2 reads no further than
// side 1 got. Returns the blocks both sides have.
uint32_t ReadTurn(RunState* run, LongTurn* turn, uint64_t first, uint32_t count) {
    uint32_t reach = count;
    for (int side = 0; side < 2; ++side) {
        PairSide* own = &run->pair.side[side];
        uint32_t b = 0;
        for (; b < reach && !StopRequested(); ++b) {
            const BlockPlan plan = PlanBlock(*run, first + b, nullptr);
            own->delivered = 0;
            own->unread.count = 0;
            SideRead result = SideRead::kWhole;
            if (!run->setup.SideIsNull[side]) {
                SideRequest request = RequestFor(
                    *run, turn->data[side] + static_cast<size_t>(b) * run->setup.BlockSize, plan.position,
                    plan.readLength);
                request.deferErrors = true;
                result = ReadRunSide(run, side, request);
            }
            if (result == SideRead::kDeferred) break;
            turn->whole[side][b] = result == SideRead::kWhole;
            turn->bytesRead[side][b] = own->delivered;
            turn->unread[side][b] = own->unread;
            // A side that ended reads nothing more of this turn.
            if (!run->setup.SideIsNull[side] && own->delivered < plan.length) {
                ++b;
                break;
            }
        }
        reach = b;
    }
    return reach;
}

// Block `b` of the turn as if both sides had just read it.
Brought TakeTurnBlock(RunState* run, const LongTurn& turn, uint32_t b, BlockView* view) {
    for (int side = 0; side < 2; ++side) {
        // The null device keeps its own buffer of zeros.
        view->data[side] = run->setup.SideIsNull[side] ? run->setup.CompareBuffers[side]
                                                       : turn.data[side] + static_cast<size_t>(b) * run->setup.BlockSize;
        view->delivered[side] = turn.bytesRead[side][b];
        view->unread[side] = &turn.unread[side][b];
    }
    return turn.whole[0][b] && turn.whole[1][b] ? Brought::kBlock : Brought::kGaveUp;
}

// The second block, read alone and timed (the first read of a handle may cost an open's worth):
// where it came at memory speed no turn is taken in this pair.
Brought Probe(BlockSource* source, const BlockPlan& plan, BlockView* view) {
    const uint64_t began = Microseconds();
    const Brought brought = ReadBothSides(source, plan, view);
    const uint64_t took = Microseconds() - began;
    source->turns.first = 2;
    source->turns.turn = took < kFastProbeMicroseconds && began != 0 ? nullptr : RunTurn(source->run);
    if (!source->turns.turn) source->kind = SourceKind::kOneBlock;
    return brought;
}

}  // namespace

Brought BringTurnBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view) {
    RunState* run = source->run;
    TurnState& t = source->turns;
    if (block == 0) return ReadBothSides(source, plan, view);
    if (block == 1) return Probe(source, plan, view);
    if (block < t.first + t.ready) return TakeTurnBlock(run, *t.turn, static_cast<uint32_t>(block - t.first), view);
    if (t.ready < t.count) {
        // The block where a read failed or a stop came: on its own, and the next turn after it.
        t.first = block + 1;
        t.count = t.ready = 0;
        return BringOnItsOwn(source, plan, view);
    }
    if (t.fast) {
        // Read at memory speed: the rest of the pair block by block, from where both sides stand.
        source->kind = SourceKind::kOneBlock;
        return ReadBothSides(source, plan, view);
    }
    const uint64_t left = run->pair.BlockCount - block;
    t.first = block;
    t.count = static_cast<uint32_t>(left < t.turn->capacity ? left : t.turn->capacity);
    // The turn's buffers take new blocks: the hash of the last one must have taken its bytes.
    AwaitBlockHash(run);
    const uint32_t began = win.GetTickCount();
    t.ready = ReadTurn(run, t.turn, block, t.count);
    t.fast = t.count == t.turn->capacity && t.ready == t.count && win.GetTickCount() - began < LongTurn::kFastMs;
    if (t.ready == 0) {
        t.first = block + 1;
        t.count = 0;
        return BringOnItsOwn(source, plan, view);
    }
    return TakeTurnBlock(run, *t.turn, 0, view);
}

void ReleaseTurn(BlockSources* sources) {
    LongTurn* turn = sources->turn;
    if (!turn) return;
    for (uint8_t* data : turn->data) ReleaseBuffer(data);
    FreeBlock(turn);
    sources->turn = nullptr;
}
