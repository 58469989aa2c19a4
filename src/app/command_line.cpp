#include "app/command_line.h"

#include <cstring>
#include <cwchar>

#include "app/process_environment.h"
#include "base/memory.h"
#include "base/types.h"
#include "console/console_output.h"
#include "platform/entry_points.h"
#include "platform/win_api.h"
#include "tree/exclude_masks.h"

bool IsCommandLineSpace(wchar_t c) {
    switch (c) {
        case 0x0009:
        case 0x000A:
        case 0x000C:
        case 0x000D:
        case 0x0020:
        case 0x00A0:
        case 0x2009:
        case 0x200A:
        case 0x205F:
        case 0x3000: return true;
        default: return false;
    }
}

wchar_t* SplitCommandLine(const wchar_t* commandLine, int* count, wchar_t** slots) {
    size_t length = wcslen(commandLine);
    // Every argument's terminator takes the place of the separator that ended it; only the last
    // one needs the extra character.
    auto* buffer = static_cast<wchar_t*>(AllocZeroed((static_cast<uint64_t>(length) + 1) * sizeof(wchar_t)));
    for (int i = 0; i < kArgumentSlots; ++i) slots[i] = nullptr;
    *count = 0;
    slots[0] = buffer;
    if (length == 0) return buffer;

    const wchar_t* in = commandLine;
    wchar_t* out = buffer;
    for (;;) {
        ++*count;
        bool quoted = false;
        while (wchar_t c = *in) {
            ++in;
            if (c == L'"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && IsCommandLineSpace(c)) break;
            *out++ = c;
        }
        *out++ = 0;
        if (*count == kMaxArguments) break;
        while (*in && IsCommandLineSpace(*in)) ++in;
        if (*in == 0) break;
        slots[*count] = out;
    }
    return buffer;
}

typedef BOOL(WINAPI* StrToInt64ExWFunction)(PCWSTR, DWORD, LONGLONG*);

int64_t ParseInt64(const wchar_t* text) {
    // Looked up in the already loaded shlwapi.dll: older systems lack the function.
    auto parse = FindLoadedEntryPoint<StrToInt64ExWFunction>(L"shlwapi.dll", "StrToInt64ExW");
    if (!parse) return static_cast<int64_t>(win.StrToIntW(text));
    LONGLONG value = 0;
    DWORD flags = text[0] == L'0' && text[1] == L'x' ? STIF_SUPPORT_HEX : 0;
    if (!parse(text, flags, &value)) return 0;
    return value;
}

uint64_t ParseSizeNumber(const wchar_t* text) {
    constexpr size_t kLongest = 63;
    wchar_t copy[kLongest + 1];
    size_t length = wcsnlen(text, kLongest + 1);
    if (length > kLongest) return 0;
    memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = 0;

    // The plain value stops at the first non-digit, so "1.5G" is one billion.
    uint64_t plain = static_cast<uint32_t>(win.StrToIntW(copy));
    uint64_t full = static_cast<uint64_t>(ParseInt64(copy));
    win.CharUpperW(copy);
    const wchar_t* letter = copy;
    while (*letter && !(*letter >= L'A' && *letter <= L'Z')) ++letter;
    if (!*letter) return full;

    static const wchar_t kUnits[] = L"KMGTPE";
    const wchar_t* unit = wcschr(kUnits, *letter);
    if (!unit) return full;  // the X of "0x", or a B
    uint64_t base = letter[1] == L'I' ? 1024 : 1000;
    uint64_t multiplier = 1;
    for (ptrdiff_t power = unit - kUnits; power >= 0; --power) multiplier *= base;
    return plain * multiplier;
}

void Clamp(int32_t* value, int32_t low, int32_t high) {
    if (*value < low) *value = low;
    if (*value > high) *value = high;
}

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// Switch names are ASCII: fold only A..Z, so no locale can make another character match.
bool BeginsWith(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (FoldAscii(*text) != FoldAscii(*prefix)) return false;
    }
    return true;
}

bool SameText(const wchar_t* a, const wchar_t* b) { return BeginsWith(a, b) && a[wcslen(b)] == 0; }

bool IsSwitchLead(wchar_t c) { return c == L'-' || c == L'/'; }

bool SetPlainSwitch(const wchar_t* arg, RunOptions* options) {
    struct Switch {
        const wchar_t* name;
        bool RunOptions::*flag;
        bool RunOptions::*also;
    };
    static const Switch kSwitches[] = {
        {L"-q", &RunOptions::quiet, nullptr},       {L"-tq", &RunOptions::quiet, &RunOptions::totallyQuiet},
        {L"-s", &RunOptions::recurse, nullptr},     {L"-p", &RunOptions::parseReparsePoints, nullptr},
        {L"-n", &RunOptions::noWait, nullptr},      {L"-i", &RunOptions::ignoreSizes, nullptr},
        {L"-sz", &RunOptions::skipZero, nullptr},   {L"-sz1", &RunOptions::skipZero1, nullptr},
        {L"-sz2", &RunOptions::skipZero2, nullptr}, {L"-b", &RunOptions::bothWays, nullptr},
    };
    for (const Switch& s : kSwitches) {
        if (!SameText(arg, s.name)) continue;
        options->*s.flag = true;
        if (s.also) options->*s.also = true;
        return true;
    }
    return false;
}

// Handles the colon options -e:, -fi: and -st:; false when the argument is none of them.
bool SetColonOption(const wchar_t* arg, RunOptions* options) {
    if (BeginsWith(arg, L"-e")) {
        AddExcludeMask(arg + 3);
        return true;
    }
    if (BeginsWith(arg, L"-fi")) {
        options->firstBytes = ParseSizeNumber(arg + 4);
        return true;
    }
    if (BeginsWith(arg, L"-st")) {
        options->startOffset = ParseSizeNumber(arg + 4);
        return true;
    }
    return false;
}

void CopyPath(wchar_t* path, const wchar_t* arg) {
    size_t length = wcsnlen(arg, kPathChars - 1);
    memcpy(path, arg, length * sizeof(wchar_t));
    path[length] = 0;
}

}  // namespace

OptionLoopResult RunOptionLoop(int count, wchar_t** args, RunOptions* options, wchar_t* path1, wchar_t* path2) {
    for (int i = 1; i < count && args[i]; ++i) {
        wchar_t* arg = args[i];
        if (SameText(arg, L"-lv")) return OptionLoopResult::ListVolumes;
        if (SameText(arg, L"-ld")) return OptionLoopResult::ListDisks;
        // A result or sum file's name may be of any length, one character included.
        if (IsSwitchLead(arg[0]) && arg[1] != 0 && arg[2] == L':' && arg[3] != 0) {
            const wchar_t** file = BeginsWith(arg + 1, L"o")   ? &options->resultFile
                                   : BeginsWith(arg + 1, L"h") ? &options->sumFile
                                   : BeginsWith(arg + 1, L"c") ? &options->checkFile
                                                               : nullptr;
            if (file) {
                *file = arg + 3;
                continue;
            }
        }
        if (BeginsWith(arg, L"-r:")) {
            // In 64 bits, so the largest number plus one cannot overflow before the clamp.
            int64_t attempts = static_cast<int64_t>(win.StrToIntW(arg + 3)) + 1;
            int32_t value = attempts > 1000000 ? 1000000 : static_cast<int32_t>(attempts);
            Clamp(&value, 1, 1000000);
            options->RetryCount = value;
            continue;
        }
        size_t length = wcslen(arg);
        if (length <= 4 && IsSwitchLead(arg[0])) {
            arg[0] = L'-';
            if (SetPlainSwitch(arg, options)) continue;
        } else if (IsSwitchLead(arg[0]) && length > 4 && (arg[2] == L':' || arg[3] == L':')) {
            arg[0] = L'-';
            if (SetColonOption(arg, options)) continue;
        }

        if (path1[0] == 0) {
            CopyPath(path1, arg);
        } else if (path2[0] == 0) {
            CopyPath(path2, arg);
        } else {
            PrintOut("invalid parameter %S\n", arg);
            PrintOut("Params:\n");
            for (int j = 0; j < count && args[j]; ++j) PrintOut(" param[%i]=%S\n", j, args[j]);
            return OptionLoopResult::TooManyPaths;
        }
    }
    return OptionLoopResult::Done;
}

void PrintUsage() {
    char version[64];
    if (ProgramVersion.revision != 0) {
        win.wsprintfA(version, "%u.%u.%u.%u", ProgramVersion.major, ProgramVersion.minor, ProgramVersion.build,
                      ProgramVersion.revision);
    } else {
        win.wsprintfA(version, "%u.%u.%u", ProgramVersion.major, ProgramVersion.minor, ProgramVersion.build);
    }
    PrintOut("QVB version %s\n", version);
    static const char* const kLines[] = {
        "\n",
        "Usage:\n",
        "QVB FileSpec1 FileSpec2 [-i]\n",
        "\n",
        "-s    recurse subdirs (default if source is a folder)\n",
        "-p    parse reparse points\n",
        "-e    exclude mask (once for each mask)\n",
        "-i    ignore different file sizes, compare up to smaller size\n",
        "-fi:n first n bytes only\n",
        "-st:n start at byte n\n",
        "-sz   do not compare blocks which are zero only in file1 or file2\n",
        "-sz1  do not compare blocks which are zero only in file1\n",
        "-sz2  do not compare blocks which are zero only in file2\n",
        "-r:n  retry n times on CRC or IO error (default 10)\n",
        "-q    quiet mode (show summary only)\n",
        "-b    both ways: also name what only the target folder holds\n",
        "-o:f  write the result of every entry to file f\n",
        "-h:f  write the SHA-256 of every file found identical to file f\n",
        "-c:f  check the files of one folder or file against the sums in file f\n",
        "-lv   list volumes\n",
        "-ld   list disks\n",
        "-n    no wait for keypress on finish if started standalone\n",
        "\n",
    };
    for (const char* line : kLines) PrintOut("%s", line);
}
