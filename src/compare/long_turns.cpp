#include "compare/long_turns.h"

#include "base/memory.h"

LongTurn* RunTurn(RunState* run) {
    if (run->setup.Turn) return run->setup.Turn;
    auto* turn = static_cast<LongTurn*>(AllocZeroed(sizeof(LongTurn)));
    uint64_t blocks = LongTurn::kTurnBytes / run->setup.BlockSize;
    if (blocks > LongTurn::kMostBlocks) blocks = LongTurn::kMostBlocks;
    if (blocks < 2) blocks = 2;
    turn->capacity = static_cast<uint32_t>(blocks);
    for (uint8_t*& data : turn->data) {
        // A spare byte behind the last block, as the compare buffers have.
        data = static_cast<uint8_t*>(ReserveBuffer(blocks * run->setup.BlockSize + 1));
    }
    if (!turn->data[0] || !turn->data[1]) {
        run->setup.Turn = turn;
        ReleaseTurn(run);
        run->setup.LongTurns = false;
        return nullptr;
    }
    run->setup.Turn = turn;
    return turn;
}

void ReleaseTurn(RunState* run) {
    LongTurn* turn = run->setup.Turn;
    if (!turn) return;
    for (uint8_t* data : turn->data) ReleaseBuffer(data);
    FreeBlock(turn);
    run->setup.Turn = nullptr;
}
