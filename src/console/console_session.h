// The console state of the run: standard handles, whether output is redirected, raw key input.
#pragma once

#include <cstdint>

#include "platform/windows.h"

struct ConsoleSession {
    HANDLE outputHandle;
    HANDLE inputHandle;
    int32_t outputRedirected;  // 1 when standard output is a file or pipe
    // No console window at the start (a service, a scheduled task, CI): none appears later, so
    // nothing asks for one again, pair after pair.
    bool noConsoleWindow;
    // Standard input is no console (NUL, a file, a pipe): no key can be read from it.
    bool inputNotConsole;
};

// Nobody can answer a prompt: output goes to a file or NUL, the console has no window, or no key
// can come from standard input. Every prompt then takes its default answer.
inline bool NobodyAnswers(const ConsoleSession* session) {
    return session && (session->outputRedirected || session->noConsoleWindow || session->inputNotConsole);
}

// The session of this run, set by the run sequence.
extern ConsoleSession* Session;

// Serialises the console control handler: two control events are handled one after the other.
extern CRITICAL_SECTION ConsoleLock;

// `session` must be zeroed. Registers the control handler before anything else can print.
void OpenConsoleSession(ConsoleSession* session);
void CloseConsoleSession(ConsoleSession* session);
