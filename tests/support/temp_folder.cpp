#include "support/temp_folder.h"

#include <atomic>

#include "platform/windows.h"

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring TemporaryFolder() {
    wchar_t base[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, base);
    if (length > 0 && length < MAX_PATH && base[length - 1] == L'\\') base[length - 1] = 0;
    return base;
}

}  // namespace

TempFolder::TempFolder() : TempFolder(TemporaryFolder()) {}

TempFolder::TempFolder(const std::wstring& base) {
    static std::atomic<int> serial{0};
    // Process ids come back under Wine, and a folder a killed test left behind must never be
    // mistaken for a fresh one: the name carries the time too, and an old folder is cleared.
    wchar_t name[80];
    wsprintfW(name, L"qvbtest-%u-%u-%u", GetCurrentProcessId(), static_cast<unsigned>(GetTickCount64() % 100000000),
              serial.fetch_add(1) + 1);
    path_ = base + L"\\" + name;
    if (!CreateDirectoryW(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS) {
        RemoveTree(path_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::wstring TempFolder::Write(const std::wstring& name, const std::string& bytes) const {
    std::wstring full = File(name);
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    return full;
}

std::string ReadWholeFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}
