// Junctions and symbolic links in tree 1, which Wine cannot hold: entries whose names begin with
// "lnk" carry the reparse attribute and the data of the table below, read and written at the seam.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/run_options.h"
#include "compare/run_state.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "support/seam.h"
#include "support/temp_folder.h"
#include "tree/reparse_points.h"
#include "tree/tree_walk.h"

namespace {

std::map<std::wstring, std::vector<uint8_t>> LinkData_;  // by name
std::map<HANDLE, std::wstring> OpenedForWrite;
std::map<std::wstring, std::vector<uint8_t>> Written;  // by tree-2 path
const uintptr_t kFakeBase = 0x5000;

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::vector<uint8_t> Raw(uint32_t tag, const std::wstring& sub, const std::wstring& print, int lengthDelta = 0) {
    uint32_t at = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    std::vector<uint8_t> d(at + (sub.size() + print.size() + 2) * 2, 0);
    uint16_t f[4] = {0, uint16_t(sub.size() * 2), uint16_t((sub.size() + 1) * 2), uint16_t(print.size() * 2)};
    uint16_t length = uint16_t(int(d.size()) - 8 + lengthDelta);
    memcpy(&d[0], &tag, 4);
    memcpy(&d[4], &length, 2);
    memcpy(&d[8], f, 8);
    memcpy(&d[at], sub.data(), sub.size() * 2);
    memcpy(&d[at + (sub.size() + 1) * 2], print.data(), print.size() * 2);
    return d;
}

void MarkLinks(LPWIN32_FIND_DATAW d) {
    if (wcsncmp(d->cFileName, L"lnk", 3) == 0) d->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI FindFirst(LPCWSTR p, LPWIN32_FIND_DATAW d) {
    HANDLE h = ::FindFirstFileW(p, d);
    if (h != INVALID_HANDLE_VALUE) MarkLinks(d);
    return h;
}

BOOL WINAPI FindNext(HANDLE h, LPWIN32_FIND_DATAW d) {
    BOOL ok = ::FindNextFileW(h, d);
    if (ok) MarkLinks(d);
    return ok;
}

HANDLE WINAPI Open(LPCWSTR p, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disp, DWORD flags,
                   HANDLE t) {
    std::wstring path = p, name = NameOf(path);
    bool reparse = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (reparse && access == GENERIC_READ && path.find(L"tree1") != std::wstring::npos) {
        auto it = LinkData_.find(name);
        if (it == LinkData_.end()) return ::CreateFileW(p, access, share, sa, disp, flags, t);
        return reinterpret_cast<HANDLE>(kFakeBase + std::distance(LinkData_.begin(), it));
    }
    HANDLE h = ::CreateFileW(p, access, share, sa, disp, flags, t);
    if (reparse && access == GENERIC_WRITE && h != INVALID_HANDLE_VALUE) OpenedForWrite[h] = path;
    return h;
}

bool IsFake(HANDLE h) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    return v >= kFakeBase && v < kFakeBase + 64;
}

BOOL WINAPI Ioctl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                  LPOVERLAPPED) {
    if (code == FSCTL_GET_REPARSE_POINT && IsFake(h)) {
        auto it = LinkData_.begin();
        std::advance(it, reinterpret_cast<uintptr_t>(h) - kFakeBase);
        if (it->second.size() > outSize) {
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        memcpy(out, it->second.data(), it->second.size());
        *returned = DWORD(it->second.size());
        return TRUE;
    }
    if (code == FSCTL_SET_REPARSE_POINT && OpenedForWrite.count(h)) {
        const uint8_t* bytes = static_cast<const uint8_t*>(in);
        Written[OpenedForWrite[h]] = std::vector<uint8_t>(bytes, bytes + inSize);
        return TRUE;
    }
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI Close(HANDLE h) {
    OpenedForWrite.erase(h);
    return IsFake(h) ? TRUE : ::CloseHandle(h);
}

BOOL WINAPI Times(HANDLE h, LPFILETIME a, LPFILETIME b, LPFILETIME c) {
    if (!IsFake(h)) return ::GetFileTime(h, a, b, c);
    FILETIME t{0x12345678, 0x01D00000};
    *a = *b = *c = t;
    return TRUE;
}

class Links : public SeamTest {
protected:
    void SetUp() override {
        Options.recurse = true;
        LinkData_.clear();
        Written.clear();
        OpenedForWrite.clear();
        win.FindFirstFileW = FindFirst;
        win.FindNextFileW = FindNext;
        win.CreateFileW = Open;
        win.DeviceIoControl = Ioctl;
        win.CloseHandle = Close;
        win.GetFileTime = Times;
        CreateDirectoryW(tree1.c_str(), nullptr);
        CreateDirectoryW(tree2.c_str(), nullptr);
    }
    // Tree 1 on C:, tree 2 either beside it on C: or on Z:.
    struct Result {
        uint32_t count;
        std::string out, err;
    };
    Result Walk(bool otherLetter, const wchar_t* mask = L"*") {
        static PathBuffer f1, f2;
        wcscpy(f1, (L"\\\\?\\" + tree1 + L"\\").c_str());
        wcscpy(f2, (L"\\\\?\\" + (otherLetter ? ztree2 : tree2) + L"\\").c_str());
        wcscpy(BaseFolder1, f1);
        wcscpy(BaseFolder2, f2);
        for (uint32_t& c : ResultCounters) c = 0;
        OutputCapture capture(false, false);
        uint32_t hardLinks = 0;
        Result r;
        r.count = CompareFolderTree(f1, mask, f2, &hardLinks, 0);
        r.out = capture.streams.outBytes;
        r.err = capture.streams.errBytes;
        return r;
    }
    std::wstring Tree1(const std::wstring& name) { return tree1 + L"\\" + name; }
    std::wstring InTree2(bool otherLetter, const std::wstring& name) {
        return L"\\\\?\\" + (otherLetter ? ztree2 : tree2) + L"\\" + name;
    }
    PairSetup setup;
    TempFolder base;
    std::wstring tree1 = base.File(L"tree1"), tree2 = base.File(L"tree2");
    std::wstring ztree2 = L"Z:\\tmp\\qvblinks-" + std::to_wstring(GetCurrentProcessId());
    void TearDown() override {
        RestoreWinApi();
        WIN32_FIND_DATAW e;
        HANDLE f = FindFirstFileW((ztree2 + L"\\*").c_str(), &e);
        if (f != INVALID_HANDLE_VALUE) {
            do {
                std::wstring full = ztree2 + L"\\" + e.cFileName;
                if (!RemoveDirectoryW(full.c_str())) DeleteFileW(full.c_str());
            } while (FindNextFileW(f, &e));
            FindClose(f);
        }
        RemoveDirectoryW(ztree2.c_str());
    }
};

std::wstring Sub(const std::wstring& folder) { return L"\\??\\" + folder; }

TEST_F(Links, ReproducedWithTheirKindAndRepointedIntoTreeTwo) {
    CreateDirectoryW(ztree2.c_str(), nullptr);
    CreateDirectoryW(Tree1(L"lnkdir").c_str(), nullptr);
    CreateDirectoryW(Tree1(L"inner").c_str(), nullptr);
    CreateDirectoryW((ztree2 + L"\\inner").c_str(), nullptr);
    ::CloseHandle(::CreateFileW(Tree1(L"lnkfile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LinkData_[L"lnkdir"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, Sub(tree1 + L"\\inner"), L"");
    LinkData_[L"lnkfile"] = Raw(IO_REPARSE_TAG_SYMLINK, Sub(L"D:\\outside"), L"D:\\outside");

    struct Row {
        bool otherLetter;
        const char* fileKind;
    };
    for (Row row : {Row{true, "symlink"}, Row{false, "reparse point"}}) {
        Written.clear();
        Result r = Walk(row.otherLetter);
        EXPECT_EQ(r.count, 2u);
        EXPECT_EQ(ResultCounters[Identical] + ResultCounters[Missing], 0u);  // nothing below or through a link
        EXPECT_NE(r.out.find("lnkdir (reparse point)\r\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::string("lnkfile (") + row.fileKind + ")\r\n"), std::string::npos) << r.out;
        EXPECT_EQ(GetFileAttributesW(InTree2(row.otherLetter, L"lnkdir").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
                  DWORD(FILE_ATTRIBUTE_DIRECTORY));
        ASSERT_EQ(Written.count(InTree2(row.otherLetter, L"lnkdir")), 1u);
        std::vector<uint8_t> expected = row.otherLetter
                                            ? Raw(IO_REPARSE_TAG_MOUNT_POINT, Sub(ztree2 + L"\\inner"), L"")
                                            : LinkData_[L"lnkdir"];
        EXPECT_EQ(Written[InTree2(row.otherLetter, L"lnkdir")], expected);
        EXPECT_EQ(Written[InTree2(row.otherLetter, L"lnkfile")], LinkData_[L"lnkfile"]);
    }
}

TEST_F(Links, WhatIsNoLinkIsAPlainEntry) {
    // Another tag and malformed data: compared like any file. Recursion off: never looked at.
    for (const wchar_t* name : {L"lnkother", L"lnkbad", L"lnkshort"}) {
        ::CloseHandle(::CreateFileW(Tree1(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ::CloseHandle(::CreateFileW((tree2 + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
    }
    std::vector<uint8_t> other = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    other[3] = 0x80;  // tag 0x80000003
    LinkData_[L"lnkother"] = other;
    LinkData_[L"lnkbad"] = Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\C:\\x", L"", 40);
    std::vector<uint8_t> shortened = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    shortened.resize(18);
    LinkData_[L"lnkshort"] = shortened;
    Result r = Walk(false);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(ResultCounters[Identical], 3u);
    EXPECT_TRUE(Written.empty());
    LinkData_[L"lnkother"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    Options.recurse = false;
    r = Walk(false);
    EXPECT_EQ(ResultCounters[Identical], 3u);
}

TEST_F(Links, FollowedWithDashPOnlyToAnotherVolume) {
    Options.parseReparsePoints = true;
    CreateDirectoryW(Tree1(L"lnkaway").c_str(), nullptr);
    CreateDirectoryW(Tree1(L"lnkhere").c_str(), nullptr);
    CreateDirectoryW((tree2 + L"\\lnkaway").c_str(), nullptr);
    ::CloseHandle(::CreateFileW(Tree1(L"lnkaway\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ::CloseHandle(
        ::CreateFileW((tree2 + L"\\lnkaway\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LinkData_[L"lnkaway"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\Z:\\tmp", L"");
    LinkData_[L"lnkhere"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, Sub(tree2), L"");
    Result r = Walk(false);
    EXPECT_EQ(r.count, 2u);  // the pair below lnkaway, and lnkhere reproduced
    EXPECT_EQ(ResultCounters[Identical], 1u);
    EXPECT_EQ(Written.count(InTree2(false, L"lnkhere")), 1u);
    EXPECT_EQ(Written.count(InTree2(false, L"lnkaway")), 0u);
}

TEST_F(Links, NeverOverwritesDataInTreeTwo) {
    ::CloseHandle(::CreateFileW(Tree1(L"lnkfile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ::CloseHandle(::CreateFileW(Tree1(L"lnkskip.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CreateDirectoryW(Tree1(L"lnkdir").c_str(), nullptr);
    CreateDirectoryW((tree2 + L"\\lnkdir").c_str(), nullptr);
    TempFolder probe;
    HANDLE h = ::CreateFileW((tree2 + L"\\lnkfile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD w;
    ::WriteFile(h, "keep", 4, &w, nullptr);
    ::CloseHandle(h);
    h = ::CreateFileW((tree2 + L"\\lnkdir\\kept").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::CloseHandle(h);
    for (const wchar_t* name : {L"lnkfile", L"lnkdir", L"lnkskip.bin"}) {
        LinkData_[name] = Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\D:\\t", L"D:\\t");
    }
    Result r = Walk(false, L"*.txt");
    EXPECT_EQ(r.count, 0u);
    EXPECT_TRUE(Written.empty());
    EXPECT_NE(r.err.find("lnkdir already holds data in tree 2: reparse point not reproduced\n"), std::string::npos)
        << r.err;
    // lnkfile does not match the mask: not reproduced and not mentioned.
    EXPECT_EQ(r.err.find("lnkfile"), std::string::npos);
    EXPECT_EQ(r.out.find("lnkfile"), std::string::npos);
    r = Walk(false);
    EXPECT_NE(r.err.find("lnkfile already holds data in tree 2: reparse point not reproduced\n"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(tree2 + L"\\lnkfile"), "keep");
    EXPECT_TRUE(Written.empty() || Written.count(InTree2(false, L"lnkskip.bin")) == Written.size());
}

}  // namespace
