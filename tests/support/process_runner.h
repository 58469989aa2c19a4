// Starting the real qvb.exe as a child process and collecting what it writes.
#pragma once

#include <cstdint>
#include <string>

struct ProcessResult {
    bool started = false;
    uint32_t startError = 0;  // of the last failed CreateProcessW
    bool timedOut = false;
    uint32_t exitCode = 0;
    std::string out;  // standard output, as bytes
    std::string err;  // standard error, as bytes, without Wine's own "wine: " notices
};

// Runs `program` with exactly `commandLine` (argument 0 included), standard input from the null
// device and the two output streams on separate pipes. A child still running after `timeoutMs`
// is killed and reported as timed out.
ProcessResult RunProcess(const std::wstring& program, const std::wstring& commandLine, uint32_t timeoutMs = 30000);

// The path of qvb.exe, given to the end-to-end test program as its first argument.
const std::wstring& QvbPath();
void SetQvbPath(const std::wstring& path);

// Runs qvb.exe with `arguments` appended to its quoted path.
ProcessResult RunQvb(const std::wstring& arguments, uint32_t timeoutMs = 30000);
