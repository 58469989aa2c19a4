// Whole folder runs of qvb.exe on real trees: pairing, summary forms and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/windows.h"
#include "support/process_runner.h"
#include "support/temp_folder.h"

namespace {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The last `lines` lines of a text that ends with a line feed.
std::string Tail(const std::string& text, size_t lines) {
    if (text.size() < 2) return text;
    size_t at = text.size() - 1;
    for (size_t i = 0; i < lines; ++i) {
        at = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
        if (at == std::string::npos) return text;
    }
    return text.substr(at + 1);
}

class FolderRuns : public ::testing::Test {
protected:
    FolderRuns() {
        CreateDirectoryW(t1.c_str(), nullptr);
        CreateDirectoryW(t2.c_str(), nullptr);
    }
    void Both(const std::wstring& name, const std::string& a, const std::string& b) {
        folder.Write(L"t1\\" + name, a);
        folder.Write(L"t2\\" + name, b);
    }
    ProcessResult Run(const std::wstring& args) {
        ProcessResult r = RunQvb(args);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    TempFolder folder;
    std::wstring t1 = folder.File(L"t1"), t2 = folder.File(L"t2");
};

TEST_F(FolderRuns, SummariesAndExitCodes) {
    Both(L"a", "1", "1");
    Both(L"b", "2", "2");
    ProcessResult r = Run(L"-q " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.out, "2 files compared\r\nAll files identical\r\n");
    EXPECT_EQ(r.exitCode, 0u);

    // Zero blocks of tree 1 left out: the long summary says what was read, which here (no holes
    // under Wine) is everything.
    Both(L"zero", std::string(1048576 + 5, 0), std::string(1048576 + 5, 0));
    r = Run(L"-sz1 " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_NE(r.out.find("Files are identical (100% skipped)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 100% actually read"), std::string::npos) << r.out;
    EXPECT_EQ(Tail(r.out, 1), "All files identical\r\n");
    EXPECT_EQ(r.exitCode, 0u);
    DeleteFileW((t1 + L"\\zero").c_str());
    DeleteFileW((t2 + L"\\zero").c_str());

    folder.Write(L"t1\\gone", "3");
    folder.Write(L"t2\\only2", "3");
    r = Run(L"-q " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.out, "2 of 3 files compared\r\n1 files missing\r\n");
    EXPECT_EQ(r.exitCode, 9u);

    Both(L"c", "4", "5");
    r = Run(L"-q " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(Tail(r.out, 3), "3 of 4 files compared\r\n1 files with differences\r\n1 files missing\r\n");
    EXPECT_EQ(r.exitCode, 1u);

    r = Run(L"-tq " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exitCode, 1u);

    // One file: no summary.
    r = Run(L"-q " + Quoted(t1 + L"\\c*") + L" " + Quoted(t2));
    EXPECT_EQ(r.out.find("compared"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 1u);

    r = Run(L"-q " + Quoted(folder.File(L"none\\*")) + L" " + Quoted(t2));
    EXPECT_EQ(r.out, "source folder not found -> abort\r\n");
    EXPECT_EQ(r.exitCode, 10u);
}

TEST_F(FolderRuns, UnreadablePairsAreNeverAllIdentical) {
    Both(L"a", "1", "1");
    Both(L"b", "1", "1");
    Both(L"c", "1", "1");
    // Held open without sharing by this process: the pair cannot be read.
    HANDLE held = CreateFileW((t1 + L"\\c").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ProcessResult r = Run(L"-q " + Quoted(t1) + L" " + Quoted(t2));
    CloseHandle(held);
    EXPECT_EQ(r.out, "2 of 3 files compared\r\n1 files could not be read\r\n");
    EXPECT_EQ(r.exitCode, 11u);
}

TEST_F(FolderRuns, FoldersMasksAndTheLongForm) {
    CreateDirectoryW((t1 + L"\\Sub").c_str(), nullptr);
    CreateDirectoryW((t2 + L"\\SUB").c_str(), nullptr);
    CreateDirectoryW((t1 + L"\\only1").c_str(), nullptr);
    Both(L"Sub\\x.txt", std::string(700000, 'x'), std::string(700000, 'x'));
    Both(L"y.txt", std::string(700000, 'y'), std::string(700000, 'y'));
    Both(L"z.bin", "z", "z");
    folder.Write(L"t1\\only1\\f.txt", "1");
    ProcessResult r = Run(L"-n " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_NE(r.out.find("Comparing Sub\\x.txt with Sub\\x.txt\n"), std::string::npos) << r.out;
    std::string t2Narrow(t2.begin(), t2.end());
    EXPECT_NE(r.out.find("folder2 not found: \\\\?\\" + t2Narrow + "\\only1\\\n"), std::string::npos) << r.out;
    // A backup that lacks a whole folder is no verified copy.
    EXPECT_EQ(Tail(r.out, 2), "1 MB in 3 files and folders compared \r\n1 folders missing\r\n");
    EXPECT_EQ(r.exitCode, 9u);

    // The exclude notice ends its lines with CR LF, as every notice of the program does.
    r = Run(L"-e:z.bin -e:only1 -e:sub " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_NE(r.out.find("\nz.bin\r\n skipped by exclude list\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 0u) << r.out;

    r = Run(L"-q " + Quoted(t1 + L"\\*.txt") + L" " + Quoted(t2));
    EXPECT_EQ(r.out, "");  // y.txt alone: no summary
    r = Run(L"-q -s " + Quoted(t1 + L"\\*.txt") + L" " + Quoted(t2));
    EXPECT_EQ(Tail(r.out, 2), "1 MB in 2 files and folders compared \r\n1 folders missing\r\n");
    RemoveDirectoryW((t1 + L"\\only1").c_str());  // not empty: stays, and is missing still
    r = Run(L"-q -s " + Quoted(t1 + L"\\Sub") + L" " + Quoted(t2 + L"\\SUB"));
    EXPECT_EQ(r.exitCode, 0u);
    // One file and a folder that tree 2 lacks: the summary still tells of the folder.
    CreateDirectoryW((t1 + L"\\Sub\\gone").c_str(), nullptr);
    r = Run(L"-q " + Quoted(t1 + L"\\Sub") + L" " + Quoted(t2 + L"\\SUB"));
    EXPECT_EQ(Tail(r.out, 2), "1 files compared\r\n1 folders missing\r\n");
    EXPECT_EQ(r.exitCode, 9u);
    RemoveDirectoryW((t1 + L"\\Sub\\gone").c_str());

    // A target that names no folder is not taken for its parent with a mask.
    struct {
        std::wstring target;
        unsigned exitCode;
    } targets[] = {
        {t2 + L"\\SUBX", 9},
        {t2 + L"\\y.txt", 9},
        {t2 + L"\\SUB\\", 0},
    };
    for (const auto& row : targets) {
        r = Run(L"-q " + Quoted(t1 + L"\\Sub") + L" " + Quoted(row.target));
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out;
        if (row.exitCode == 9) {
            EXPECT_NE(r.out.find("folder2 not found: "), std::string::npos) << r.out;
        }
    }

    // A target folder that is missing ends the run in every form, even when no name of tree 1
    // matched that would have looked for it.
    r = Run(L"-q " + Quoted(t1 + L"\\Sub\\q*?z*") + L" " + Quoted(folder.File(L"nope\\*")));
    EXPECT_NE(r.out.find("folder2 not found: "), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 9u);

    // A file of tree 2 is no folder for the tree-1 folder of its name.
    CreateDirectoryW((t1 + L"\\Sub\\logs").c_str(), nullptr);
    folder.Write(L"t2\\SUB\\logs", "a file");
    r = Run(L"-q " + Quoted(t1 + L"\\Sub") + L" " + Quoted(t2 + L"\\SUB"));
    EXPECT_EQ(Tail(r.out, 2), "1 files compared\r\n1 folders missing\r\n");
    EXPECT_EQ(r.exitCode, 9u);
    RemoveDirectoryW((t1 + L"\\Sub\\logs").c_str());

    // A folder into the target folder that holds a sub-folder of its name.
    std::wstring into = folder.File(L"into");
    CreateDirectoryW(into.c_str(), nullptr);
    CreateDirectoryW((into + L"\\t1").c_str(), nullptr);
    r = Run(L"-q " + Quoted(t1) + L" " + Quoted(into));
    EXPECT_EQ(r.exitCode, 9u);
    EXPECT_NE(r.err.find("into\\t1\\y.txt'"), std::string::npos) << r.err;

    // A tree compared with itself, spelled alike or reached through the folder that holds it,
    // would call every file verified.
    for (const std::wstring& target : {t1, folder.path(), folder.File(L"T1")}) {
        r = Run(L"-q " + Quoted(t1) + L" " + Quoted(target));
        EXPECT_EQ(r.out, "target folder is the source folder -> abort\r\n");
        EXPECT_EQ(r.exitCode, 8u);
    }
}

TEST_F(FolderRuns, AResultListForScriptsAndBothWays) {
    CreateDirectoryW((t1 + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((t2 + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((t1 + L"\\gone").c_str(), nullptr);
    CreateDirectoryW((t2 + L"\\extra").c_str(), nullptr);
    Both(L"same", "1", "1");
    Both(L"sub\\\u00e9t\u00e9", "2", "2");
    Both(L"diff", "3", "4");
    Both(L"held", "5", "5");
    folder.Write(L"t1\\missing", "6");
    folder.Write(L"t2\\only2", "7");
    std::wstring list = folder.File(L"list.txt");
    // Held open without sharing by this process: the pair cannot be read.
    HANDLE held = CreateFileW((t1 + L"\\held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ProcessResult r = Run(L"-q -b -o:" + Quoted(list) + L" " + Quoted(t1) + L" " + Quoted(t2));
    CloseHandle(held);
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    // The lines of the walk's order, UTF-8 with CR LF; the reason follows a tab.
    std::string lines = ReadWholeFile(list);
    for (const char* line : {"* diff\r\n", "- gone\\\r\n", "! held\tSHARING_VIOLATION opening file1\r\n",
                             "- missing\r\n", "= same\r\n", "= sub\\\xc3\xa9t\xc3\xa9\r\n", "+ extra\\\r\n",
                             "+ only2\r\n"}) {
        EXPECT_NE(lines.find(line), std::string::npos) << line << "\n" << lines;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 8) << lines;
    EXPECT_NE(r.out.find("1 files only in tree 2\r\n1 folders only in tree 2\r\n"), std::string::npos) << r.out;

    // Without -b what only tree 2 holds is not looked at, and the list has nothing of it.
    r = Run(L"-q -o:" + Quoted(list) + L" " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(ReadWholeFile(list).find("+ "), std::string::npos);
    EXPECT_EQ(r.out.find("only in tree 2"), std::string::npos) << r.out;
    // A file run writes one line; a result file that cannot be created ends the run at once.
    r = Run(L"-q -o:" + Quoted(list) + L" " + Quoted(t1 + L"\\diff") + L" " + Quoted(t2 + L"\\diff"));
    EXPECT_EQ(ReadWholeFile(list), "* diff\r\n");
    r = Run(L"-q -o:" + Quoted(folder.File(L"nofolder\\list.txt")) + L" " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_NE(r.err.find("cannot create the result file '"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("' (PATH_NOT_FOUND) -> abort\n"), std::string::npos) << r.err;

    // A result file in a tree, or one of the compared files, however spelled, is refused unwritten.
    for (const std::wstring& args : {L"-o:" + Quoted(folder.File(L"T2\\SUB\\..\\Sub\\list")) + L" " + Quoted(t1),
                                     L"-o:" + Quoted(L"\\\\?\\" + t1 + L"\\DIFF") + L" " + Quoted(t1 + L"\\diff")}) {
        r = Run(L"-q " + args + L" " + Quoted(t2));
        EXPECT_EQ(r.err + std::to_string(r.exitCode), "the result file lies inside a compared tree -> abort\n3");
    }
    EXPECT_EQ(ReadWholeFile(t1 + L"\\diff"), "3");
    EXPECT_EQ(GetFileAttributesW((t2 + L"\\sub\\list").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FolderRuns, SumsWrittenWhileComparingAndCheckedLater) {
    const std::string one = "6b86b273ff34fce19d6b804eff5a3f5747ada4eaa22f1d49c01e52ddb7875b4b";
    const std::string two = "d4735e3a265e16eee03f59718b9b5d03019c07d8b6c51f90da3a666eec13ab35";
    CreateDirectoryW((t1 + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((t2 + L"\\sub").c_str(), nullptr);
    Both(L"same", "1", "1");
    Both(L"sub\\\u00e9t\u00e9", "2", "2");
    Both(L"diff", "3", "4");
    std::wstring sums = folder.File(L"sums.sha256");
    // Only the pairs found identical have a line, as sha256sum writes it.
    ProcessResult r = Run(L"-q -h:" + Quoted(sums) + L" " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    const std::string written = one + "  same\n" + two + "  sub/\xc3\xa9t\xc3\xa9\n";
    EXPECT_EQ(ReadWholeFile(sums), written);
    // A sum covers a whole file.
    r = Run(L"-q -st:1 -h:" + Quoted(sums) + L" " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_NE(r.err.find("-h cannot be combined with -st"), std::string::npos) << r.err;

    // Checked later against the sum file alone: tree 1 stands for the copy.
    const struct {
        std::string sums;
        unsigned exitCode;
        const char* shown;
    } rows[] = {
        {written, 0, "All files match their sums"},
        {"SHA256 (same) = " + one + "\r\n", 0, "The sum matches"},  // sha256sum --tag, CR LF
        {two + " *same\n", 1, "1 files differ from their sums"},
        {one + "  same\n" + one + "  gone\n", 9, "1 files missing"},
        {one + "  same\n" + "xyz  diff\n", 3, "line 2 of the sum file is no SHA-256 sum -> abort"},
        {one + "  same\n" + one + "  SAME\n", 3, "line 2 of the sum file is no SHA-256 sum -> abort"},
    };
    std::wstring check = folder.File(L"check.sha256");
    for (const auto& row : rows) {
        folder.Write(L"check.sha256", row.sums);
        r = Run(L"-c:" + Quoted(check) + L" " + Quoted(t1));
        EXPECT_EQ(r.exitCode, row.exitCode) << row.sums << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(row.shown), std::string::npos) << row.sums << r.out << r.err;
    }
    // With -b the files the sum file does not list are named, and the copy is no exact one.
    folder.Write(L"check.sha256", written);
    r = Run(L"-b -c:" + Quoted(check) + L" " + Quoted(t1));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.out.find("not listed in the sum file: diff\n"), std::string::npos) << r.out;
}

TEST_F(FolderRuns, NamesMatchAsTheFileSystemMatchesThem) {
    // Case folds per character as the file system folds it: an exclude mask of one CJK name
    // leaves out no other name that differs from it in bit 0x20.
    Both(L"\u4e00.txt", "1", "1");
    Both(L"\u4e20.txt", "1", "2");
    ProcessResult r = Run(L"-q -e:\u4e00.txt " + Quoted(t1) + L" " + Quoted(t2));
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    // "*.*" is every file, those without an extension too.
    Both(L"Makefile", "a", "b");
    DeleteFileW((t1 + L"\\\u4e20.txt").c_str());
    r = Run(L"-q " + Quoted(t1 + L"\\*.*") + L" " + Quoted(t2));
    EXPECT_EQ(Tail(r.out, 1), "1 files with differences\r\n");
    EXPECT_EQ(r.exitCode, 1u);
    // So is "a*.*" every file that begins with "a", "a" itself too.
    Both(L"a", "1", "2");
    Both(L"ab", "3", "3");
    EXPECT_EQ(Run(L"-q " + Quoted(t1 + L"\\a*.*") + L" " + Quoted(t2)).exitCode, 1u);
}

TEST_F(FolderRuns, PathsBeyondTheFormatterLimitKeepTheirLines) {
    // About 1,200 characters below the base folders: the line must keep " with ..." and its end.
    std::wstring relative;
    for (int level = 0; level < 6; ++level) {
        relative += std::wstring(200, static_cast<wchar_t>(L'a' + level)) + L"\\";
        CreateDirectoryW((L"\\\\?\\" + t1 + L"\\" + relative).c_str(), nullptr);
        CreateDirectoryW((L"\\\\?\\" + t2 + L"\\" + relative).c_str(), nullptr);
    }
    Both(L"f", "1", "1");  // a second pair, so that the run has a summary
    for (const std::wstring& tree : {t1, t2}) {
        HANDLE h = CreateFileW((L"\\\\?\\" + tree + L"\\" + relative + L"deep").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        DWORD w;
        WriteFile(h, "x", 1, &w, nullptr);
        CloseHandle(h);
    }
    HANDLE only = CreateFileW((L"\\\\?\\" + t1 + L"\\" + relative + L"only1").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    CloseHandle(only);
    ProcessResult r = Run(Quoted(t1) + L" " + Quoted(t2));
    std::string missing(relative.begin(), relative.end());
    EXPECT_NE(r.err.find(missing + "only1'\nerr=FILE_NOT_FOUND\n"), std::string::npos) << r.err.size();
    std::string shown(relative.begin(), relative.end());
    shown += "deep";
    size_t line = r.out.find("Comparing " + shown + " with " + shown + "\n");
    ASSERT_NE(line, std::string::npos) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    EXPECT_EQ(r.out.find("Files are identical", line), r.out.find('\n', line) + 2)
        << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    EXPECT_EQ(r.exitCode, 9u) << r.out;
}

}  // namespace
