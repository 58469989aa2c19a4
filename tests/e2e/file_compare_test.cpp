// Whole runs of qvb.exe on real files, with standard output and error redirected.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows.h"
#include "support/process_runner.h"
#include "support/temp_folder.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

const char kSameDrive[] = "Files are located on the same physical drive -> sequential operation\n";

std::string CompareLine(const std::wstring& a, const std::wstring& b) {
    return "compare " + Narrow(a) + " with " + Narrow(b) + "\n";
}

class FileRuns : public ::testing::Test {
protected:
    ProcessResult Run(const std::wstring& args) {
        ProcessResult r = RunQvb(args);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    TempFolder folder;
};

TEST_F(FileRuns, IdenticalDifferentAndEmptyPairs) {
    std::wstring a = folder.Write(L"a.bin", "the same bytes");
    std::wstring b = folder.Write(L"b.bin", "the same bytes");
    ProcessResult r = Run(Quoted(a) + L" " + Quoted(b));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, kSameDrive + CompareLine(a, b) + "\rFiles are identical\r\n");
    EXPECT_EQ(r.err, "");

    std::wstring c = folder.Write(L"c.bin", "the sane bytes!");
    std::wstring d = folder.Write(L"d.bin", "the same bytes?");
    r = Run(Quoted(c) + L" " + Quoted(d));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, kSameDrive + CompareLine(c, d) + "\r00000006: 6E 6D\r\n\r0000000E: 21 3F\r\n\r\n");

    // Two names of one file (a hard link, another spelling): one file, not read twice.
    std::wstring a2 = folder.File(L"a2.bin");
    ASSERT_TRUE(CreateHardLinkW(a2.c_str(), a.c_str(), nullptr));
    for (const std::wstring& other : {a2, folder.File(L"A.BIN")}) {
        r = Run(Quoted(a) + L" " + Quoted(other));
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, kSameDrive + CompareLine(a, other) + "\rFiles are identical (same file)\r\n");
    }

    std::wstring e1 = folder.Write(L"e1", ""), e2 = folder.Write(L"e2", "");
    r = Run(L"-q " + Quoted(e1) + L" " + Quoted(e2));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
}

TEST_F(FileRuns, SizesFirstBytesAndStartOffset) {
    std::string base(2000, 'x');
    std::wstring small = folder.Write(L"small", base.substr(0, 1000));
    std::wstring large = folder.Write(L"large", base + "y");
    std::string sizes = "Files have different sizes:\r\nFile1=1000 bytes\r\nFile2=2001 bytes\r\n";
    ProcessResult r = Run(L"/q " + Quoted(small) + L" " + Quoted(large));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, sizes + " -> abort! (use -i to ignore)\r\n");

    r = Run(L"-q -i " + Quoted(small) + L" " + Quoted(large));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, sizes + "comparing to end of the small file...\r\n");

    // -st:n compares from byte n exactly, also within a sector, and lists offsets from there;
    // 3000 is beyond the 2001 bytes.
    std::wstring other = folder.Write(L"other", std::string(2000, 'x') + "z");
    r = Run(L"-q -st:1 " + Quoted(large) + L" " + Quoted(other));
    EXPECT_EQ(r.exitCode, 1u);
    r = Run(L"-st:2000 " + Quoted(large) + L" " + Quoted(other));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.out.find("\r00000000: 79 7A"), std::string::npos) << r.out << r.err;
    r = Run(L"-q -fi:2000 " + Quoted(large) + L" " + Quoted(other));
    EXPECT_EQ(r.exitCode, 0u);
    r = Run(L"-q -st:3000 " + Quoted(large) + L" " + Quoted(other));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "Error: StartPos (3000) > FileSize2 (2001) -> abort");

    // Offsets near 2^64: rounding must not wrap to the start, none prints as negative, and two
    // null devices have a range that must not wrap either.
    struct {
        std::wstring args;
        std::string err;
    } offsets[] = {
        {L"-st:18446744073709551615 " + Quoted(large) + L" " + Quoted(other),
         "Error: StartPos (18446744073709551615) > FileSize2 (2001) -> abort"},
        {L"-st:9223372036854775808 " + Quoted(large) + L" " + Quoted(other),
         "Error: StartPos (9223372036854775808) > FileSize2 (2001) -> abort"},
        {L"-st:18446744073709551615 NUL NUL",
         "Error: StartPos (18446744073709551615) > FileSize (9223372036854775807) -> abort"},
    };
    for (const auto& row : offsets) {
        r = Run(L"-q " + row.args);
        EXPECT_EQ(r.exitCode, 1u) << r.err;
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out.find(": "), std::string::npos) << r.out;  // nothing listed
    }
}

TEST_F(FileRuns, TheNullDevice) {
    std::string data(600, 0);
    data[512] = 7;
    std::wstring file = folder.Write(L"zeros", data);
    struct Case {
        const wchar_t* arg;
        const char* shown;
    } cases[] = {{L"NUL", "\\\\.\\NUL"}, {L"\\\\.\\NUL", "\\\\.\\NUL"}, {L"nul", "\\\\.\\nul"}};
    for (const Case& c : cases) {
        ProcessResult r = Run(L"-q " + Quoted(file) + L" " + c.arg);
        EXPECT_EQ(r.exitCode, 1u) << c.shown;
        EXPECT_EQ(r.out, "");
        r = Run(Quoted(file) + L" " + c.arg);
        EXPECT_EQ(r.out, "compare " + Narrow(file) + " with " + c.shown + "\n\r00000200: 07 00\r\n\r\n");
    }
    ProcessResult r = Run(L"-q NUL " + Quoted(folder.Write(L"empty", "")));
    EXPECT_EQ(r.exitCode, 0u);
}

TEST_F(FileRuns, MissingSidesAndAFolderAsTheTarget) {
    std::wstring a = folder.Write(L"a.bin", "abc");
    ProcessResult r = Run(Quoted(folder.File(L"nothere")) + L" " + Quoted(a));
    EXPECT_EQ(r.exitCode, 9u);
    EXPECT_EQ(r.out, kSameDrive + CompareLine(folder.File(L"nothere"), a) + "source file not found -> abort\r\n");

    r = Run(L"-q " + Quoted(a) + L" " + Quoted(folder.File(L"gone.bin")));
    EXPECT_EQ(r.exitCode, 9u);
    EXPECT_EQ(r.err,
              "\rCannot open file2 for compare '" + Narrow(folder.File(L"gone.bin")) + "'\nerr=FILE_NOT_FOUND\n");

    r = Run(L"-q " + Quoted(a) + L" " + Quoted(folder.File(L"nofolder\\x.bin")));
    EXPECT_EQ(r.exitCode, 9u);
    EXPECT_NE(r.err.find("err=PATH_NOT_FOUND"), std::string::npos) << r.err;

    // A folder as the second path takes the file of the same name inside it.
    std::wstring sub = folder.File(L"sub");
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    folder.Write(L"sub\\a.bin", "abd");
    r = Run(L"-q " + Quoted(a) + L" " + Quoted(sub));
    EXPECT_EQ(r.exitCode, 1u);
    r = Run(Quoted(a) + L" " + Quoted(sub));
    EXPECT_NE(r.out.find("\r00000002: 63 64\r\n"), std::string::npos) << r.out;
}

TEST_F(FileRuns, PathsOnADriveThatDoesNotExist) {
    std::wstring a = folder.Write(L"a", "abc");
    ProcessResult r = Run(L"-q Q:\\x.bin " + Quoted(a));
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(r.err.substr(0, 17), "path1 is invalid ");
    r = Run(L"-q " + Quoted(a) + L" Q:\\x.bin");
    EXPECT_EQ(r.exitCode, 5u);
    EXPECT_EQ(r.err.substr(0, 17), "path2 is invalid ");
    EXPECT_EQ(r.err.substr(r.err.size() - 11), ") -> abort\n");
}

TEST_F(FileRuns, ALockedSideEndsWithTheIncompleteCode) {
    std::wstring a = folder.Write(L"a", "abc"), b = folder.Write(L"b", "abc");
    HANDLE lock = CreateFileW(b.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ProcessResult r = Run(L"-q " + Quoted(a) + L" " + Quoted(b));
    CloseHandle(lock);
    EXPECT_EQ(r.exitCode, 11u);
    EXPECT_NE(r.err.find("err=SHARING_VIOLATION"), std::string::npos) << r.err;
}

TEST_F(FileRuns, TheRecursionGuardIgnoresLetterCase) {
    std::wstring source = folder.File(L"data");
    ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
    std::wstring inside = source + L"\\copy";
    ASSERT_TRUE(CreateDirectoryW(inside.c_str(), nullptr));
    for (const std::wstring& target : {inside, folder.File(L"DATA\\COPY")}) {
        ProcessResult r = Run(L"-q " + Quoted(source) + L" " + Quoted(target));
        EXPECT_EQ(r.exitCode, 8u) << Narrow(target);
        EXPECT_EQ(r.out, "target path is below source path (recursion) -> abort\r\n");
    }
}

TEST_F(FileRuns, DeviceShortcutsBecomeDevicePaths) {
    // Wine opens \\.\PhysicalDrive0 but reads nothing from it: the run ends, whatever it reads.
    ProcessResult r = Run(L"-fi:4096 \\\\.\\pd0 NUL");
    EXPECT_NE(r.out.find("compare \\\\.\\PhysicalDrive0 with \\\\.\\NUL\n"), std::string::npos) << r.out;
}

}  // namespace
