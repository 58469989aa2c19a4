#include "compare/block_source.h"

#include "base/memory.h"
#include "compare/device_size.h"
#include "compare/long_turns.h"
#include "compare/pair_hash.h"
#include "compare/read_ahead.h"
#include "compare/reader_threads.h"
#include "compare/side_readers.h"
#include "console/control_handler.h"

BlockPlan PlanBlock(const RunState& run, uint64_t block, AllocatedRanges* holes) {
    BlockPlan plan;
    plan.position = run.setup.ReadStart + block * run.setup.BlockSize;
    plan.length = plan.readLength = run.setup.BlockSize;
    plan.lead = block == 0 ? static_cast<uint32_t>(run.setup.StartOffset - run.setup.ReadStart) : 0;
    if (block == run.pair.BlockCount - 1) {
        plan.length = static_cast<uint32_t>(run.pair.CompareLength - plan.position);
        plan.readLength = RoundUp(plan.length, LargerSectorSize(run));
    }
    const uint64_t end = plan.position + plan.length;
    plan.hole = holes && (InHole(&holes[0], plan.position, end) || InHole(&holes[1], plan.position, end));
    return plan;
}

void OpenBlockSource(BlockSource* source, RunState* run, const PairSides& sides, bool plain) {
    *source = BlockSource{};
    source->kind = SourceKind::kOneBlock;
    source->run = run;
    source->sides = &sides;
    if (plain || sides.read) return;
    const bool noNullSide = !run->setup.SideIsNull[0] && !run->setup.SideIsNull[1];
    if (noNullSide && OpenAheadSource(source)) {
        source->kind = SourceKind::kReadAhead;
    } else if (run->setup.LongTurns && !run->sources.turnsRefused && !run->setup.CheckOnly) {
        source->kind = SourceKind::kLongTurns;
    }
}

Brought BringBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view) {
    switch (source->kind) {
        case SourceKind::kOneBlock: break;
        case SourceKind::kLongTurns: return BringTurnBlock(source, block, plan, view);
        case SourceKind::kReadAhead: return BringAheadBlock(source, block, plan, view);
    }
    return ReadBothSides(source, plan, view);
}

void MirrorFirstSide(BlockView* view) {
    static const UnreadRanges kNone = {};
    view->data[1] = view->data[0];
    view->delivered[1] = view->delivered[0];
    // Side 1's unread bytes are named once, as its own.
    view->unread[1] = &kNone;
}

void BlockCompared(BlockSource* source, uint64_t block) {
    if (source->kind == SourceKind::kReadAhead) AheadBlockCompared(source, block);
}

void CloseBlockSource(BlockSource* source) {
    if (source->kind == SourceKind::kReadAhead) CloseAheadSource(source);
}

namespace {

// Reserved on first use; where it cannot be had, the block waits for the hash instead.
uint8_t* SpareBuffer(RunState* run) {
    uint8_t*& spare = run->sources.spare;
    if (!spare) spare = static_cast<uint8_t*>(ReserveBuffer(uint64_t{run->setup.BlockSize} + 1));
    if (spare) return spare;
    AwaitBlockHash(run);
    return run->setup.CompareBuffers[0];
}

}  // namespace

Brought ReadBothSides(BlockSource* source, const BlockPlan& plan, BlockView* view) {
    RunState* run = source->run;
    const PairSides& sides = *source->sides;
    for (int side = 0; side < 2; ++side) {
        PairSide& own = run->pair.side[side];
        own.delivered = sides.read ? sides.delivered[side] : 0;
        own.unread.count = 0;
        view->data[side] = sides.read ? sides.data[side] : run->setup.CompareBuffers[side];
        view->unread[side] = &own.unread;
    }
    SideRead result[2] = {SideRead::kWhole, SideRead::kWhole};
    if (!sides.read) {
        SideRequest request[2];
        for (int side = 0; side < 2; ++side) {
            request[side] = RequestFor(*run, run->setup.CompareBuffers[side], plan.position, plan.readLength);
        }
        // While the hash of the last block may still take side 1's bytes, this block goes into the
        // other of its two buffers.
        if (HashesPairs(*run) && ((plan.position - run->setup.ReadStart) / run->setup.BlockSize & 1) != 0) {
            request[0].buffer = SpareBuffer(run);
            view->data[0] = request[0].buffer;
        }
        if (run->setup.ParallelReads && SidesRead(*run) == 2) {
            StartSideRead(run, 0, request[0]);
            StartSideRead(run, 1, request[1]);
            result[0] = WaitSideRead(run, 0);
            result[1] = WaitSideRead(run, 1);
        } else {
            // One after the other: the handing over to a thread and back would cost more than it
            // buys, so this thread reads both, side 1 first, exactly as the readers would.
            for (int side = 0; side < SidesRead(*run); ++side) result[side] = ReadRunSide(run, side, request[side]);
        }
    }
    for (int side = 0; side < 2; ++side) view->delivered[side] = run->pair.side[side].delivered;
    if (run->setup.CheckOnly) MirrorFirstSide(view);
    return result[0] == SideRead::kWhole && result[1] == SideRead::kWhole ? Brought::kBlock : Brought::kGaveUp;
}

Brought BringOnItsOwn(BlockSource* source, const BlockPlan& plan, BlockView* view) {
    RunState* run = source->run;
    for (int side = 0; side < SidesRead(*run); ++side) {
        if (!SeekSide(run->pair.side[side].handle, plan.position, side)) return Brought::kNotPlaced;
    }
    if (StopRequested()) return Brought::kStopped;
    return ReadBothSides(source, plan, view);
}
