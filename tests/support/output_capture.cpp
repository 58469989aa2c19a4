#include "support/output_capture.h"

#include "console/console_output.h"

namespace {

OutputCapture* active = nullptr;
bool outConsole = false;
bool errConsole = false;

HANDLE WINAPI FakeGetStdHandle(DWORD which) {
    switch (which) {
        case STD_OUTPUT_HANDLE: return OutputCapture::kOut;
        case STD_ERROR_HANDLE: return OutputCapture::kErr;
        case STD_INPUT_HANDLE: return OutputCapture::kIn;
        default: return INVALID_HANDLE_VALUE;
    }
}

bool IsConsoleHandle(HANDLE h) {
    return (h == OutputCapture::kOut && outConsole) || (h == OutputCapture::kErr && errConsole);
}

DWORD WINAPI FakeGetFileType(HANDLE h) {
    if (h == OutputCapture::kIn) return FILE_TYPE_CHAR;
    return IsConsoleHandle(h) ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
}

BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) {
    std::string* sink = h == OutputCapture::kOut   ? &active->streams.outBytes
                        : h == OutputCapture::kErr ? &active->streams.errBytes
                                                   : nullptr;
    if (!sink) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sink->append(static_cast<const char*>(data), count);
    if (written) *written = count;
    return TRUE;
}

BOOL WINAPI FakeWriteConsoleA(HANDLE h, const void* data, DWORD count, LPDWORD written, LPVOID) {
    if (h != OutputCapture::kErr || !errConsole) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (active->streams.failConsoleWith) {
        ::SetLastError(active->streams.failConsoleWith);
        return FALSE;
    }
    active->streams.errConsole.append(static_cast<const char*>(data), count);
    if (written) *written = count;
    return TRUE;
}

BOOL WINAPI FakeWriteConsoleW(HANDLE h, const void* data, DWORD count, LPDWORD written, LPVOID) {
    if (h != OutputCapture::kOut || !outConsole) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (active->streams.failConsoleWith) {
        ::SetLastError(active->streams.failConsoleWith);
        return FALSE;
    }
    active->streams.outConsole.append(static_cast<const wchar_t*>(data), count);
    active->streams.outConsoleWrites.push_back(count);
    if (written) *written = count;
    return TRUE;
}

BOOL WINAPI FakeGetConsoleMode(HANDLE h, LPDWORD mode) {
    if (!IsConsoleHandle(h)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    return TRUE;
}

}  // namespace

OutputCapture::OutputCapture(bool outIsConsole, bool errIsConsole) : saved_(win) {
    active = this;
    outConsole = outIsConsole;
    errConsole = errIsConsole;
    win.GetStdHandle = FakeGetStdHandle;
    win.GetFileType = FakeGetFileType;
    win.WriteFile = FakeWriteFile;
    win.WriteConsoleA = FakeWriteConsoleA;
    win.WriteConsoleW = FakeWriteConsoleW;
    win.GetConsoleMode = FakeGetConsoleMode;
    ResetPrintCaches();
}

OutputCapture::~OutputCapture() {
    win = saved_;
    active = nullptr;
    ResetPrintCaches();
}
