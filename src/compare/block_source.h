// Where the blocks of a pair come from. The block loop asks for each block in order and receives a
// view of both sides' bytes; one of three sources stands behind it, chosen once per pair from what
// the setup decided: one block at a time, long turns on one drive that seeks, or the read-ahead
// where every read waits a round trip. A block a source did not bring whole is read on its own, one
// block at a time with its recovery, as if no other source existed.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/allocated_ranges.h"
#include "compare/pair_sides.h"

// One block of the compared range.
struct BlockPlan {
    uint64_t position;    // where it begins in both sides
    uint32_t length;      // the bytes delivered from the position on, `lead` included
    uint32_t readLength;  // the bytes read: unbuffered reads take whole sectors
    uint32_t lead;        // of the first block: the bytes before the start offset, not compared
    bool hole;            // wholly in a hole of a side the option names: zero, not read
};

// Block `block` of the pair; `holes`, where given, are those of the sides the option names.
BlockPlan PlanBlock(const RunState& run, uint64_t block, AllocatedRanges* holes);

// Both sides of a block as a source brought them. Valid until the block loop asks for the next.
struct BlockView {
    const uint8_t* data[2];
    uint32_t delivered[2];  // bytes delivered from the block's start; a side that ended has fewer
    const UnreadRanges* unread[2];
};

// How bringing a block ended.
enum class Brought {
    kBlock,     // the view holds it
    kGaveUp,    // a side's reading was given up
    kNotPlaced, // a side's handle could not be placed at the block's start (its error is printed)
    kStopped,   // a stop came before the block was read on its own
};

enum class SourceKind { kOneBlock, kLongTurns, kReadAhead };

struct LongTurn;
struct ReadAhead;

// The long turns of a pair: the turn being compared, blocks [first, first + ready) of it read on
// both sides, of `count` asked for.
struct TurnState {
    LongTurn* turn;  // null: one block at a time for the rest of the pair
    uint64_t first;
    uint32_t count;
    uint32_t ready;
    bool fast;  // the turn came at memory speed: the rest of the pair is read block by block
};

// The read-ahead of a pair: on while its readers bring the blocks; started again at the next
// block after one read on its own.
struct AheadState {
    ReadAhead* ahead;
    bool on;
    uint32_t failedOpens;  // generations in which a reader could not open its handle
    bool restart;
};

struct BlockSource {
    SourceKind kind;
    RunState* run;
    const PairSides* sides;  // a small pair a worker read whole is in its buffers already
    TurnState turns;
    AheadState ahead;
    // With -h, the block (plus one) whose bytes the hash may still be taking: its place is let go
    // once the next block is compared.
    uint64_t hashed;
};

// Chooses the pair's source. `plain` asks for one block at a time whatever the setup decided (a
// pair of one block, of unknown length, or with holes).
void OpenBlockSource(BlockSource* source, RunState* run, const PairSides& sides, bool plain);

// Brings block `block` (planned as `plan`, no hole) into `view`.
Brought BringBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view);

// The loop is done with the block: its place may take a later one.
void BlockCompared(BlockSource* source, uint64_t block);

// Ends the pair's use of the source; what it keeps for the run stays in the run's BlockSources.
void CloseBlockSource(BlockSource* source);

// The one-block source, for the other sources' fallback too: both sides read where they stand
// into the run's compare buffers (or taken from a worker's buffers), at the same time when the
// run reads in parallel.
Brought ReadBothSides(BlockSource* source, const BlockPlan& plan, BlockView* view);

// In a check against sums: side 2 of the view is side 1 itself.
void MirrorFirstSide(BlockView* view);

// A block another source did not bring: both sides back to its start (one may have read past it),
// then read and recovered on its own.
Brought BringOnItsOwn(BlockSource* source, const BlockPlan& plan, BlockView* view);
