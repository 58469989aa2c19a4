#include "compare/run_resources.h"

#include "base/memory.h"
#include "base/workers.h"
#include "compare/file_identity.h"
#include "compare/long_turns.h"
#include "compare/pair_hash.h"
#include "compare/read_ahead.h"
#include "compare/side_readers.h"
#include "console/control_handler.h"

void ReleaseRunResources(RunState* run) {
    StopReaderThreads(run);
    for (CallWorker*& lister : run->helpers.lister) StopCallWorker(&lister, StopRequested);
    for (uint8_t*& buffer : run->setup.CompareBuffers) {
        // A reader abandoned after a stop may still read into them.
        if (!run->helpers.readerAbandoned) ReleaseBuffer(buffer);
        buffer = nullptr;
    }
    ReleaseTurn(&run->sources);
    StopPairHashing(run);
    if (!run->helpers.readerAbandoned) ReleaseBuffer(run->sources.spare);
    run->sources.spare = nullptr;
    ReleaseReadAhead(&run->sources);
    FreeFileIdList(run->setup.FileIds);
    run->setup.FileIds = nullptr;
}
