// A fresh folder for one test's files, removed with everything in it afterwards.
#pragma once

#include <string>

class TempFolder {
public:
    TempFolder();
    // A fresh folder inside `base` (a folder without a trailing backslash) instead of the
    // temporary folder.
    explicit TempFolder(const std::wstring& base);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }  // with no trailing backslash
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
    // Writes `bytes` to the named file and returns its full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const;

private:
    std::wstring path_;
};

std::string ReadWholeFile(const std::wstring& path);
