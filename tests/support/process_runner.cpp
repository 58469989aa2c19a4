#include "support/process_runner.h"

#include <thread>

#include "platform/windows.h"

namespace {

std::wstring qvbPath;

void Drain(HANDLE pipe, std::string* sink) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) sink->append(buffer, got);
}

std::string WithoutWineNotices(const std::string& text) {
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(start, 6, "wine: ") != 0) kept.append(text, start, end - start);
        start = end;
    }
    return kept;
}

bool MakePipe(HANDLE* read, HANDLE* write) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    if (!CreatePipe(read, write, &inherit, 0)) return false;
    // Only the child's end is inherited, so the pipe ends when the child does.
    SetHandleInformation(*read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& program, const std::wstring& commandLine, uint32_t timeoutMs) {
    ProcessResult result;
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!MakePipe(&outRead, &outWrite)) return result;
    if (!MakePipe(&errRead, &errWrite)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return result;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nullInput =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    // Wine now and then refuses a process start for a moment; a start is tried a few times.
    for (int attempt = 0; attempt < 5 && !result.started; ++attempt) {
        if (attempt > 0) Sleep(200);
        std::wstring mutableLine = commandLine;
        result.started = CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process) != FALSE;
        if (!result.started) result.startError = GetLastError();
    }
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nullInput != INVALID_HANDLE_VALUE) CloseHandle(nullInput);

    std::string err;
    std::thread outReader(Drain, outRead, &result.out);
    std::thread errReader(Drain, errRead, &err);
    if (result.started) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = code;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    outReader.join();
    errReader.join();
    CloseHandle(outRead);
    CloseHandle(errRead);
    result.err = WithoutWineNotices(err);
    return result;
}

const std::wstring& QvbPath() { return qvbPath; }

void SetQvbPath(const std::wstring& path) {
    // The build passes a Unix path; Wine maps it to its Z: drive.
    wchar_t full[MAX_PATH * 4];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    qvbPath = length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : path;
}

ProcessResult RunQvb(const std::wstring& arguments, uint32_t timeoutMs) {
    std::wstring line = L"\"" + QvbPath() + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return RunProcess(QvbPath(), line, timeoutMs);
}
