// The exit codes of the program, and how a step of the run says whether the run goes on.
#pragma once

// 11 and 12 are this program's own additions: a run that could not read everything must never
// look verified, and a run that cannot get its buffers must say so.
enum ExitCode : int {
    kExitIdentical = 0,
    kExitDifferent = 1,
    kExitUsage = 2,
    kExitBadArguments = 3,
    kExitPath1Invalid = 4,
    kExitPath2Invalid = 5,
    kExitVolume1Unreadable = 6,
    kExitVolume2Unreadable = 7,
    kExitRecursion = 8,
    kExitMissing = 9,
    kExitSourceFolderMissing = 10,
    kExitIncomplete = 11,
    kExitNoMemory = 12,
};

// A step either lets the run go on or ends it with an exit code, its message already printed.
struct StepResult {
    bool ended;
    ExitCode code;
};

constexpr StepResult kGoOn = {false, kExitIdentical};
constexpr StepResult EndRunWith(ExitCode code) { return {true, code}; }
