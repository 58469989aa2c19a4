// Junctions and symbolic links in tree 1, which Wine cannot hold: entries whose names begin with
// "lnk" carry the reparse attribute and the data of the table below, read and written at the seam.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/run_options.h"
#include "support/fake_links.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "support/seam.h"
#include "support/temp_folder.h"
#include "support/tree_walk_run.h"
#include "tree/reparse_points.h"
#include "tree/tree_walk.h"

namespace {

auto& LinkData_ = fake_links::LinkData;
auto& Written = fake_links::Written;
using fake_links::Raw;

class Links : public SeamTest {
protected:
    void SetUp() override {
        Options.recurse = true;
        fake_links::Install();
        CreateDirectoryW(tree1.c_str(), nullptr);
        CreateDirectoryW(tree2.c_str(), nullptr);
    }
    // Tree 1 on C:, tree 2 either beside it on C: or on Z:.
    WalkResult Walk(bool otherLetter, const wchar_t* mask = L"*") {
        return ::Walk(tree1, otherLetter ? ztree2 : tree2, mask);
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
        bool upperCaseTarget;  // the link names tree 1 in another letter case
        size_t trailing = 0;   // bytes the reply holds past the data it declares
    };
    std::wstring upper = tree1;
    CharUpperW(upper.data());
    const std::vector<uint8_t> fileLink = LinkData_[L"lnkfile"];
    for (Row row : {Row{true, "symlink", false}, Row{false, "reparse point", false}, Row{true, "symlink", true},
                    Row{false, "reparse point", false, 6}}) {
        Written.clear();
        LinkData_[L"lnkdir"] =
            Raw(IO_REPARSE_TAG_MOUNT_POINT, Sub((row.upperCaseTarget ? upper : tree1) + L"\\inner"), L"");
        LinkData_[L"lnkfile"] = fileLink;
        LinkData_[L"lnkfile"].resize(fileLink.size() + row.trailing, 0xAB);
        WalkResult r = Walk(row.otherLetter);
        EXPECT_EQ(r.count, 2u);
        EXPECT_EQ(TestRun().counts.ResultCounters[Identical] + TestRun().counts.ResultCounters[Missing],
                  0u);  // nothing below or through a link
        EXPECT_NE(r.out.find("lnkdir (reparse point)\r\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::string("lnkfile (") + row.fileKind + ")\r\n"), std::string::npos) << r.out;
        EXPECT_EQ(GetFileAttributesW(InTree2(row.otherLetter, L"lnkdir").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
                  DWORD(FILE_ATTRIBUTE_DIRECTORY));
        ASSERT_EQ(Written.count(InTree2(row.otherLetter, L"lnkdir")), 1u);
        std::vector<uint8_t> expected =
            row.otherLetter ? Raw(IO_REPARSE_TAG_MOUNT_POINT, Sub(ztree2 + L"\\inner"), L"") : LinkData_[L"lnkdir"];
        EXPECT_EQ(Written[InTree2(row.otherLetter, L"lnkdir")], expected);
        EXPECT_EQ(Written[InTree2(row.otherLetter, L"lnkfile")], fileLink);
    }
}

TEST_F(Links, WhatIsNoLinkIsAPlainEntry) {
    // Another tag and malformed data: compared like any file. Recursion off: never looked at.
    for (const wchar_t* name : {L"lnkother", L"lnkbad", L"lnkshort"}) {
        ::CloseHandle(::CreateFileW(Tree1(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ::CloseHandle(
            ::CreateFileW((tree2 + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    std::vector<uint8_t> other = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    other[3] = 0x80;  // tag 0x80000003
    LinkData_[L"lnkother"] = other;
    LinkData_[L"lnkbad"] = Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\C:\\x", L"", 40);
    std::vector<uint8_t> shortened = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    shortened.resize(18);
    LinkData_[L"lnkshort"] = shortened;
    WalkResult r = Walk(false);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(TestRun().counts.ResultCounters[Identical], 3u);
    EXPECT_TRUE(Written.empty());
    LinkData_[L"lnkother"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\x", L"");
    Options.recurse = false;
    r = Walk(false);
    EXPECT_EQ(TestRun().counts.ResultCounters[Identical], 3u);
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
    WalkResult r = Walk(false);
    EXPECT_EQ(r.count, 2u);  // the pair below lnkaway, and lnkhere reproduced
    EXPECT_EQ(TestRun().counts.ResultCounters[Identical], 1u);
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
    WalkResult r = Walk(false, L"*.txt");
    EXPECT_EQ(r.count, 0u);
    EXPECT_TRUE(Written.empty());
    EXPECT_NE(r.err.find("lnkdir already holds data in tree 2: reparse point not reproduced\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(TestRun().counts.LinksFailed, 1u);
    // lnkfile does not match the mask: not reproduced and not mentioned.
    EXPECT_EQ(r.err.find("lnkfile"), std::string::npos);
    EXPECT_EQ(r.out.find("lnkfile"), std::string::npos);
    r = Walk(false);
    EXPECT_NE(r.err.find("lnkfile already holds data in tree 2: reparse point not reproduced\n"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(tree2 + L"\\lnkfile"), "keep");
    EXPECT_TRUE(Written.empty() || Written.count(InTree2(false, L"lnkskip.bin")) == Written.size());
}

// A link that cannot be written is an error that the run counts, and leaves nothing this run
// made; an entry whose state cannot be read is kept as if it held data; attributes go only to
// what was reproduced. Nothing is written where tree 2 is not proven to lie.
TEST_F(Links, WhatCannotBeWrittenIsCountedAndLeavesNothing) {
    enum Fault { kSetFails, kTree2Unreadable, kFinalPathElsewhere, kFinalPathUnknown, kBelowTree2Link };
    static Fault fault;
    static int attributeWrites;
    static decltype(win.DeviceIoControl) links;
    links = win.DeviceIoControl;  // the fake links' own
    SeamOverride set(
        win.DeviceIoControl,
        +[](HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
            LPOVERLAPPED o) -> BOOL {
            if (code == FSCTL_SET_REPARSE_POINT && fault == kSetFails) {
                SetLastError(ERROR_PRIVILEGE_NOT_HELD);
                return FALSE;
            }
            return links(h, code, in, inSize, out, outSize, returned, o);
        });
    SeamOverride information(
        win.GetFileInformationByHandle, +[](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
            if (fault != kTree2Unreadable) return ::GetFileInformationByHandle(h, info);
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        });
    SeamOverride finalPath(
        win.GetFinalPathNameByHandleW, +[](HANDLE h, LPWSTR out, DWORD size, DWORD flags) -> DWORD {
            DWORD chars = ::GetFinalPathNameByHandleW(h, out, size, flags);
            wchar_t* entry = chars && chars < size ? wcsstr(out, L"tree2\\lnk") : nullptr;
            if (entry && fault == kFinalPathUnknown) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return 0;
            }
            if (entry && fault == kFinalPathElsewhere) entry[4] = L'1';  // through a link into tree 1
            return chars;
        });
    SeamOverride setAttributes(
        win.SetFileAttributesW, +[](LPCWSTR path, DWORD value) -> BOOL {
            ++attributeWrites;
            return ::SetFileAttributesW(path, value);
        });
    LinkData_[L"lnkdir"] = Raw(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\D:\\t", L"");
    LinkData_[L"lnkfile"] = Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\D:\\t", L"D:\\t");
    const char* kElsewhere = "lnkdir lies in a tree-2 folder that is a link: reparse point not reproduced\n";
    struct {
        Fault fault;
        std::wstring below;  // the folder of the links; lnksub is a junction in tree 2
        const char* err;
    } rows[] = {
        {kSetFails, L"", "error 1314 creating reparse point lnkdir\n"},
        {kTree2Unreadable, L"", "lnkdir already holds data in tree 2: reparse point not reproduced\n"},
        {kFinalPathElsewhere, L"", kElsewhere},
        {kFinalPathUnknown, L"", "error 50 locating reparse point lnkdir\n"},
        {kBelowTree2Link, L"lnksub\\", kElsewhere},  // last: the links leave the root
    };
    for (const auto& row : rows) {
        fault = row.fault;
        if (fault == kBelowTree2Link) {
            RemoveDirectoryW(Tree1(L"lnkdir").c_str());
            DeleteFileW(Tree1(L"lnkfile").c_str());
            for (const std::wstring& tree : {tree1, tree2}) CreateDirectoryW((tree + L"\\lnksub").c_str(), nullptr);
        }
        CreateDirectoryW(Tree1(row.below + L"lnkdir").c_str(), nullptr);
        ::CloseHandle(
            ::CreateFileW(Tree1(row.below + L"lnkfile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        attributeWrites = 0;
        WalkResult r = Walk(false);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("(reparse point)"), std::string::npos) << r.out;
        // Kept or not written, neither link is in tree 2: what is there was never compared.
        EXPECT_EQ(TestRun().counts.LinksFailed, 2u) << r.err;
        EXPECT_EQ(attributeWrites, 0);
        EXPECT_EQ(::GetFileAttributesW((tree2 + L"\\" + row.below + L"lnkdir").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(::GetFileAttributesW((tree2 + L"\\" + row.below + L"lnkfile").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

// What tree 2 already holds at a link's name decides: data is kept (and counted, for it was never
// compared), an empty entry or an earlier link is replaced. Long targets are reproduced whole.
TEST_F(Links, WhatTreeTwoHoldsDecides) {
    enum State { kEmptyFolder, kUnlistableFolder, kMountPoint, kEarlierJunction, kStaleEmptyEntry, kLongTarget };
    static State state;
    SeamOverride list(
        win.GetFileInformationByHandleEx, +[](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID d, DWORD n) -> BOOL {
            if (state != kUnlistableFolder || c != FileIdBothDirectoryInfo) {
                return ::GetFileInformationByHandleEx(h, c, d, n);
            }
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        });
    CreateDirectoryW(Tree1(L"lnkdir").c_str(), nullptr);
    // Beyond the 1 KiB that reparse data was once read into.
    std::wstring longTarget = L"\\??\\D:\\" + std::wstring(600, L'x');
    struct {
        State state;
        bool written;
    } rows[] = {
        {kEmptyFolder, true},     {kUnlistableFolder, false}, {kMountPoint, false},
        {kEarlierJunction, true}, {kLongTarget, true},
    };
    for (const auto& row : rows) {
        state = row.state;
        Written.clear();
        LinkData_[L"lnkdir"] =
            Raw(IO_REPARSE_TAG_MOUNT_POINT, row.state == kLongTarget ? longTarget : L"\\??\\D:\\t", L"");
        // The tree-2 entry's own reparse data: a volume mount point or an earlier junction.
        fake_links::Tree2Links.clear();
        if (row.state == kMountPoint || row.state == kEarlierJunction) {
            fake_links::Tree2Links[L"lnkdir"] =
                Raw(IO_REPARSE_TAG_MOUNT_POINT,
                    row.state == kEarlierJunction ? L"\\??\\D:\\old" : L"\\??\\Volume{0b1c5e6a}\\", L"");
        }
        if (row.state != kLongTarget) CreateDirectoryW((tree2 + L"\\lnkdir").c_str(), nullptr);
        WalkResult r = Walk(false);
        int line = static_cast<int>(&row - rows);
        EXPECT_EQ(Written.count(InTree2(false, L"lnkdir")), row.written ? 1u : 0u) << line << r.err;
        EXPECT_EQ(TestRun().counts.LinksFailed, row.written ? 0u : 1u) << line << r.err;
        if (!row.written) EXPECT_NE(r.err.find("lnkdir already holds data in tree 2"), std::string::npos) << r.err;
        RemoveDirectoryW((tree2 + L"\\lnkdir").c_str());
    }
    // A file that holds data whatever its directory entry says.
    static decltype(win.FindFirstFileW) finds;
    finds = win.FindFirstFileW;
    SeamOverride stale(
        win.FindFirstFileW, +[](LPCWSTR p, LPWIN32_FIND_DATAW d) {
            HANDLE h = finds(p, d);
            if (h != INVALID_HANDLE_VALUE) d->nFileSizeLow = d->nFileSizeHigh = 0;
            return h;
        });
    state = kStaleEmptyEntry;
    ::CloseHandle(::CreateFileW(Tree1(L"lnkfile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LinkData_[L"lnkfile"] = Raw(IO_REPARSE_TAG_SYMLINK, L"\\??\\D:\\t", L"D:\\t");
    base.Write(L"tree2\\lnkfile", "keep");
    Written.clear();
    WalkResult r = Walk(false);
    EXPECT_EQ(Written.count(InTree2(false, L"lnkfile")), 0u) << r.err;
    EXPECT_EQ(ReadWholeFile(tree2 + L"\\lnkfile"), "keep");
}

}  // namespace
