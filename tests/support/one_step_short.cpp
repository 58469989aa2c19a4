#include "support/one_step_short.h"

// Windows calling-convention attributes mean nothing on x64; the wrapper types need not keep them.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "storage/virtual_disk.h"
#include "support/strict_seam.h"

namespace strict {
namespace {

WinApi under;  // what the guard sits on
const char* only = nullptr;
GetVolumePathNamesForVolumeNameWFunction underPathNames = nullptr;
GetStorageDependencyInformationFunction underDependencies = nullptr;

bool Shortens(const char* call) { return call && (!only || strcmp(only, call) == 0); }

void Spoil(void* buffer, size_t bytes) { memset(buffer, 0xFD, bytes); }

// One step short of the answer's `need`, and never more than the program's own `size`.
DWORD OneShort(DWORD need, DWORD size) { return (need < size ? need : size) - 1; }

// The characters of a text answer with its terminator, or all of them for one without.
DWORD TextNeed(const wchar_t* text, DWORD chars) {
    const wchar_t* end = wmemchr(text, 0, chars);
    return end ? static_cast<DWORD>(end - text + 1) : chars;
}

// A call that answers TRUE with a text in `text` of `chars` characters; `ask` asks it with a size.
template <typename Ask>
BOOL ShortText(const char* call, wchar_t* text, DWORD chars, Ask ask) {
    if (!ask(chars)) return FALSE;
    if (!Shortens(call) || !text || chars == 0) return TRUE;
    DWORD need = TextNeed(text, chars);
    Spoil(text, chars * sizeof(wchar_t));
    ShortOnPurpose quiet;
    return ask(OneShort(need, chars));
}

BOOL WINAPI Control(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes, LPDWORD returned,
                    LPOVERLAPPED overlapped) {
    BOOL ok = under.DeviceIoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
    if (!ok || !Shortens(ControlCodeName(code)) || !out || !returned || *returned == 0) return ok;
    DWORD need = *returned;
    Spoil(out, outBytes);
    ShortOnPurpose quiet;
    return under.DeviceIoControl(device, code, in, inBytes, out, OneShort(need, outBytes), returned, overlapped);
}

BOOL WINAPI MountPointName(LPCWSTR mountPoint, LPWSTR name, DWORD chars) {
    return ShortText("GetVolumeNameForVolumeMountPointW", name, chars,
                     [&](DWORD n) { return under.GetVolumeNameForVolumeMountPointW(mountPoint, name, n); });
}

BOOL WINAPI VolumePathName(LPCWSTR path, LPWSTR root, DWORD chars) {
    return ShortText("GetVolumePathNameW", root, chars,
                     [&](DWORD n) { return under.GetVolumePathNameW(path, root, n); });
}

// The label; the other outputs are numbers.
BOOL WINAPI VolumeInformation(LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD serial, LPDWORD maxComponent,
                              LPDWORD flags, LPWSTR fileSystem, DWORD fileSystemChars) {
    return ShortText("GetVolumeInformationW", label, labelChars, [&](DWORD n) {
        return under.GetVolumeInformationW(root, label, n, serial, maxComponent, flags, fileSystem, fileSystemChars);
    });
}

DWORD WINAPI DosDevice(LPCWSTR name, LPWSTR target, DWORD chars) {
    DWORD stored = under.QueryDosDeviceW(name, target, chars);
    if (stored == 0 || !Shortens("QueryDosDeviceW")) return stored;
    Spoil(target, chars * sizeof(wchar_t));
    ShortOnPurpose quiet;
    return under.QueryDosDeviceW(name, target, OneShort(stored, chars));
}

// A search cannot be asked twice without moving on; a volume GUID path is always 49 characters and
// its terminator, so its size is known without asking.
constexpr DWORD kVolumeGuidPathChars = 50;

HANDLE WINAPI FirstVolume(LPWSTR name, DWORD chars) {
    if (!Shortens("FindFirstVolumeW") || chars == 0) return under.FindFirstVolumeW(name, chars);
    Spoil(name, chars * sizeof(wchar_t));
    ShortOnPurpose quiet;
    return under.FindFirstVolumeW(name, OneShort(kVolumeGuidPathChars, chars));
}

BOOL WINAPI NextVolume(HANDLE search, LPWSTR name, DWORD chars) {
    if (!Shortens("FindNextVolumeW") || chars == 0) return under.FindNextVolumeW(search, name, chars);
    Spoil(name, chars * sizeof(wchar_t));
    ShortOnPurpose quiet;
    return under.FindNextVolumeW(search, name, OneShort(kVolumeGuidPathChars, chars));
}

BOOL WINAPI InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA item, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                            DWORD bytes, PDWORD required, PSP_DEVINFO_DATA info) {
    DWORD own = 0;
    PDWORD need = required ? required : &own;
    BOOL ok = under.SetupDiGetDeviceInterfaceDetailW(set, item, detail, bytes, need, info);
    constexpr size_t kFixed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (!ok || !Shortens("SetupDiGetDeviceInterfaceDetailW") || !detail || bytes <= kFixed || *need == 0) return ok;
    Spoil(reinterpret_cast<uint8_t*>(detail) + kFixed, bytes - kFixed);  // cbSize stays as the program set it
    ShortOnPurpose quiet;
    return under.SetupDiGetDeviceInterfaceDetailW(set, item, detail, OneShort(*need, bytes), need, info);
}

BOOL WINAPI PathNames(LPCWSTR volume, LPWCH names, DWORD chars, PDWORD length) {
    if (!underPathNames(volume, names, chars, length)) return FALSE;
    if (!Shortens("GetVolumePathNamesForVolumeNameW") || *length == 0) return TRUE;
    DWORD need = *length;
    Spoil(names, chars * sizeof(wchar_t));
    ShortOnPurpose quiet;
    return underPathNames(volume, names, OneShort(need, chars), length);
}

DWORD WINAPI Dependencies(HANDLE disk, DWORD flags, ULONG bytes, void* info, PULONG used) {
    DWORD result = underDependencies(disk, flags, bytes, info, used);
    if (result != ERROR_SUCCESS || !Shortens("GetStorageDependencyInformation") || bytes <= 4 || *used == 0) {
        return result;
    }
    ULONG need = *used;
    Spoil(static_cast<uint8_t*>(info) + 4, bytes - 4);  // the Version the program asks for stays
    ShortOnPurpose quiet;
    return underDependencies(disk, flags, OneShort(need, bytes), info, used);
}

// The two storage calls found at run time come through the seam's GetProcAddress.
FARPROC WINAPI ProcAddress(HMODULE module, LPCSTR name) {
    FARPROC found = under.GetProcAddress(module, name);
    if (!found || reinterpret_cast<uintptr_t>(name) <= 0xFFFF) return found;
    if (strcmp(name, "GetVolumePathNamesForVolumeNameW") == 0) {
        underPathNames = reinterpret_cast<GetVolumePathNamesForVolumeNameWFunction>(found);
        return reinterpret_cast<FARPROC>(&PathNames);
    }
    if (strcmp(name, "GetStorageDependencyInformation") == 0) {
        underDependencies = reinterpret_cast<GetStorageDependencyInformationFunction>(found);
        return reinterpret_cast<FARPROC>(&Dependencies);
    }
    return found;
}

}  // namespace

OneStepShort::OneStepShort(const char* call) : saved_(win) {
    under = win;
    only = call;
    win.DeviceIoControl = &Control;
    win.GetVolumeNameForVolumeMountPointW = &MountPointName;
    win.GetVolumePathNameW = &VolumePathName;
    win.GetVolumeInformationW = &VolumeInformation;
    win.QueryDosDeviceW = &DosDevice;
    win.FindFirstVolumeW = &FirstVolume;
    win.FindNextVolumeW = &NextVolume;
    win.SetupDiGetDeviceInterfaceDetailW = &InterfaceDetail;
    win.GetProcAddress = &ProcAddress;
    // Entry points found before would bypass the guard, and after it would lead into it.
    ForgetStorageEntryPoints();
}

OneStepShort::~OneStepShort() {
    win = saved_;
    ForgetStorageEntryPoints();
}

std::string ListingFault(const std::string& listing, const std::string& full, bool everyEntry) {
    if (!listing.empty() && listing.back() != '\n') return "a last line without its end: " + listing;
    for (char c : listing) {
        if (c != '\n' && (c < 0x20 || c > 0x7E)) return "not printable: " + listing;
    }
    auto words = [](const std::string& line) {
        std::istringstream in(line);
        return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
    };
    std::map<std::string, std::pair<std::set<std::string>, int>> entries;  // by device path: words, lines
    std::istringstream fullLines(full);
    for (std::string line; std::getline(fullLines, line);) {
        std::vector<std::string> w = words(line);
        auto& entry = entries[w.size() > 1 ? w[1] : ""];
        entry.first.insert(w.begin(), w.end());
        ++entry.second;
    }
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> w = words(line);
        auto found = entries.find(w.size() > 1 ? w[1] : "");
        if (found == entries.end() || found->second.second-- == 0) return "no such entry: " + line;
        for (const std::string& word : w) {
            if (!found->second.first.count(word) && word != "NoInfo" && word != "Disk-1" && word != "--") {
                return "'" + word + "' neither as listed nor unknown: " + line;
            }
        }
    }
    for (const auto& [path, entry] : entries) {
        if (everyEntry && entry.second != 0) return "left out: " + path;
    }
    return "";
}

}  // namespace strict
