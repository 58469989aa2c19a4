// Standard output and standard error of the program under test, caught at the seam. Each stream
// can be a console or redirected, and console writes can be made to fail.
#pragma once

#include <string>
#include <vector>

#include "platform/win_api.h"

struct CapturedStreams {
    std::string outBytes;                  // WriteFile to standard output
    std::string errBytes;                  // WriteFile to standard error
    std::wstring outConsole;               // WriteConsoleW to standard output
    std::string errConsole;                // WriteConsoleA to standard error
    std::vector<size_t> outConsoleWrites;  // characters of each WriteConsoleW call
    DWORD failConsoleWith = 0;             // when set, every console write fails with this error
};

class OutputCapture {
public:
    OutputCapture(bool outIsConsole, bool errIsConsole);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    CapturedStreams streams;

    static inline const HANDLE kOut = reinterpret_cast<HANDLE>(0x7001);
    static inline const HANDLE kErr = reinterpret_cast<HANDLE>(0x7002);
    static inline const HANDLE kIn = reinterpret_cast<HANDLE>(0x7003);

private:
    WinApi saved_;
};
