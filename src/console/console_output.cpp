#include "console/console_output.h"

#include <atomic>
#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/scoped_handles.h"
#include "platform/win_api.h"

namespace {

// Whether standard output is a character device, decided once on first use by each routine that
// needs it. Every thread computes the same answer, so a race only repeats the question.
enum : int { kUnknown = 0, kConsole = 1, kRedirected = 2 };

bool IsRedirected(std::atomic<int>& cache) {
    int state = cache.load(std::memory_order_relaxed);
    if (state == kUnknown) {
        HANDLE out = win.GetStdHandle(STD_OUTPUT_HANDLE);
        state = win.GetFileType(out) == FILE_TYPE_CHAR ? kConsole : kRedirected;
        cache.store(state, std::memory_order_relaxed);
    }
    return state == kRedirected;
}

std::atomic<int> printOutWState{kUnknown};
std::atomic<HANDLE> printOutWHandle{nullptr};
std::atomic<int> longPathState{kUnknown};

// wvsprintf writes at most kFormatLimit characters with the terminator; its result is not
// trusted beyond that, and the text is always terminated inside `text`.
template <typename Char>
size_t Terminate(Char* text, int result) {
    size_t length = 0;
    if (result >= 0 && result < kFormatLimit) {
        length = static_cast<size_t>(result);
    } else {
        while (length < kFormatLimit - 1 && text[length]) ++length;
    }
    text[length] = 0;
    return length;
}

int WriteBytes(HANDLE handle, const void* bytes, DWORD count) {
    DWORD written = 0;
    if (!win.WriteFile(handle, bytes, count, &written, nullptr)) return -1;
    return static_cast<int>(written);
}

}  // namespace

size_t FormatText(char* text, const char* format, va_list args) {
    return Terminate(text, win.wvsprintfA(text, format, args));
}

size_t FormatText(wchar_t* text, const wchar_t* format, va_list args) {
    return Terminate(text, win.wvsprintfW(text, format, args));
}

size_t ExpandLineEnds(char* text, size_t capacity) {
    if (capacity == 0) return 0;
    // Find how much of the source fits once expanded, then expand from the back.
    size_t source = 0, expanded = 0;
    for (; text[source]; ++source) {
        bool bare = text[source] == '\n' && (source == 0 || text[source - 1] != '\r');
        size_t need = bare ? 2 : 1;
        if (expanded + need > capacity - 1) break;
        expanded += need;
    }
    text[expanded] = 0;
    size_t out = expanded;
    while (source > 0) {
        --source;
        char c = text[source];
        text[--out] = c;
        if (c == '\n' && (source == 0 || text[source - 1] != '\r')) text[--out] = '\r';
    }
    return expanded;
}

int PrintOutV(const char* format, va_list args) {
    // Room for every line feed of a full-length message to gain its carriage return.
    char text[2 * kFormatLimit + 1];
    FormatText(text, format, args);
    size_t length = ExpandLineEnds(text, sizeof(text));
    return WriteBytes(win.GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length));
}

int PrintOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = PrintOutV(format, args);
    va_end(args);
    return written;
}

int WriteOut(const char* bytes, uint32_t count) {
    if (count == 0) return 0;
    return WriteBytes(win.GetStdHandle(STD_OUTPUT_HANDLE), bytes, count);
}

int PrintErr(const char* format, ...) {
    char text[kFormatLimit + 1];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(text, format, args);
    va_end(args);

    HANDLE err = win.GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (win.WriteConsoleA(err, text, static_cast<DWORD>(length), &written, nullptr)) return static_cast<int>(written);
    if (win.GetLastError() != ERROR_INVALID_HANDLE) return -1;
    return WriteBytes(err, text, static_cast<DWORD>(length));
}

int PrintErrLongPath(const wchar_t* path) {
    int chars = static_cast<int>(wcslen(path));
    int bytes = win.WideCharToMultiByte(CP_ACP, 0, path, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return -1;
    ScopedBlock<char> text(static_cast<char*>(AllocZeroed(static_cast<uint64_t>(bytes) + 1)));
    bytes = win.WideCharToMultiByte(CP_ACP, 0, path, chars, text.get(), bytes, nullptr, nullptr);
    if (bytes <= 0) return -1;
    HANDLE err = win.GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (win.WriteConsoleA(err, text.get(), static_cast<DWORD>(bytes), &written, nullptr)) {
        return static_cast<int>(written);
    }
    if (win.GetLastError() != ERROR_INVALID_HANDLE) return -1;
    return WriteBytes(err, text.get(), static_cast<DWORD>(bytes));
}

int PrintOutW(const wchar_t* format, ...) {
    wchar_t text[kFormatLimit + 1];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(text, format, args);
    va_end(args);

    HANDLE out = printOutWHandle.load(std::memory_order_relaxed);
    if (!out) {
        out = win.GetStdHandle(STD_OUTPUT_HANDLE);
        printOutWHandle.store(out, std::memory_order_relaxed);
    }
    if (IsRedirected(printOutWState)) {
        // Two bytes a character covers the double-byte OEM code pages.
        char bytes[2 * kFormatLimit + 1];
        int count = win.WideCharToMultiByte(win.GetOEMCP(), 0, text, static_cast<int>(length), bytes, sizeof(bytes),
                                            nullptr, nullptr);
        if (count <= 0) return -1;
        return WriteBytes(out, bytes, static_cast<DWORD>(count));
    }
    DWORD written = 0;
    if (!win.WriteConsoleW(out, text, static_cast<DWORD>(length), &written, nullptr)) return -1;
    return static_cast<int>(written);
}

wchar_t* AnsiToWide(const char* text) {
    int count = win.MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (count <= 0) return static_cast<wchar_t*>(AllocZeroed(sizeof(wchar_t)));
    auto* wide = static_cast<wchar_t*>(AllocZeroed((static_cast<uint64_t>(count) + 1) * sizeof(wchar_t)));
    if (win.MultiByteToWideChar(CP_ACP, 0, text, -1, wide, count) <= 0) wide[0] = 0;
    wide[count] = 0;
    return wide;
}

namespace {

int WriteConsolePieces(HANDLE out, const wchar_t* text, size_t length) {
    if (length <= kConsolePiece) {
        DWORD written = 0;
        if (win.WriteConsoleW(out, text, static_cast<DWORD>(length), &written, nullptr))
            return static_cast<int>(written);
        PrintOut("\nWriteConsoleW error %u on textlen=%i\n", win.GetLastError(), static_cast<int>(length));
        return 0;
    }
    int last = 0;
    size_t done = 0;
    while (done < length) {
        size_t piece = length - done < kConsolePiece ? length - done : kConsolePiece;
        // Never split a surrogate pair between two writes.
        if (done + piece < length && piece > 1 && IS_HIGH_SURROGATE(text[done + piece - 1])) --piece;
        DWORD written = 0;
        if (!win.WriteConsoleW(out, text + done, static_cast<DWORD>(piece), &written, nullptr)) break;
        last = static_cast<int>(written);
        done += piece;
    }
    return last;
}

int WriteOemBytes(HANDLE out, const wchar_t* text, size_t length) {
    if (length == 0) return 0;
    UINT codePage = win.GetOEMCP();
    int count = win.WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (count <= 0) return -1;
    auto* bytes = static_cast<char*>(AllocZeroed(static_cast<uint64_t>(count)));
    count = win.WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), bytes, count, nullptr, nullptr);
    int written = count > 0 ? WriteBytes(out, bytes, static_cast<DWORD>(count)) : -1;
    FreeBlock(bytes);
    return written;
}

}  // namespace

int PrintOutLongPath(const char* format, const wchar_t* path) {
    ScopedBlock<wchar_t> wideFormat(AnsiToWide(format));
    const wchar_t* marker = win.StrStrW(wideFormat.get(), L"%S");
    if (!marker) return -1;
    size_t before = static_cast<size_t>(marker - wideFormat.get());
    size_t pathLength = wcslen(path);
    size_t afterLength = wcslen(marker + 2);
    size_t length = before + pathLength + afterLength;
    ScopedBlock<wchar_t> text(
        static_cast<wchar_t*>(AllocZeroed((static_cast<uint64_t>(length) + 1) * sizeof(wchar_t))));
    memcpy(text.get(), wideFormat.get(), before * sizeof(wchar_t));
    memcpy(text.get() + before, path, pathLength * sizeof(wchar_t));
    memcpy(text.get() + before + pathLength, marker + 2, afterLength * sizeof(wchar_t));
    wideFormat.reset();

    HANDLE out = win.GetStdHandle(STD_OUTPUT_HANDLE);
    return IsRedirected(longPathState) ? WriteOemBytes(out, text.get(), length)
                                       : WriteConsolePieces(out, text.get(), length);
}

void ResetPrintCaches() {
    printOutWState.store(kUnknown);
    printOutWHandle.store(nullptr);
    longPathState.store(kUnknown);
}
