// Sum files: every form of line sha256sum writes is read, every line that could mislead a check is
// refused with its number, and what the writer writes is sha256sum's format and reads back.
#include "tree/sum_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/seam.h"
#include "support/temp_folder.h"

namespace {

// The digest of "abc", as sha256sum writes it; a name with a non-ASCII letter and ideograph.
const std::string h = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kUtf8 = "gr\xC3\xBC\xC3\x9F\x65/\xE6\x97\xA5.txt";
const std::wstring kUtf16 = L"gr\u00fc\u00dfe\\\u65e5.txt";
const DWORD kNoSum = ERROR_INVALID_DATA;

struct ReadBack {
    bool ok;
    uint32_t badLine;
    DWORD error;                      // 0 when read
    std::vector<std::wstring> paths;  // of entries whose digest is that of "abc"
};

ReadBack Read(const std::wstring& file) {
    SumList list;
    ReadBack r;
    r.ok = ReadSumFile(file.c_str(), &list, &r.badLine);
    r.error = r.ok ? 0 : GetLastError();
    for (const SumEntry* e = list.entries; e != list.entries + list.count; ++e) {
        r.paths.push_back(e->digest[0] == 0xba && e->digest[31] == 0xad ? e->path : L"?");
    }
    FreeSumList(&list);
    return r;
}

TEST(ReadSumFile, EachFormOfLine) {
    std::string H = h;
    for (char& c : H) c = static_cast<char>(toupper(c));
    const struct {
        const char* what;
        std::string text;
        std::vector<std::wstring> paths;
        uint32_t badLine;  // 0: read
        DWORD error;
    } rows[] = {
        {"text", h + "  a.txt\n", {L"a.txt"}, 0, 0},
        {"binary mark, upper-case digits", H + " *b.bin\n", {L"b.bin"}, 0, 0},
        {"tagged", "SHA256 (sub/c d.txt) = " + h + "\n", {L"sub\\c d.txt"}, 0, 0},
        {"CR LF, a last line without its end", h + "  x\r\n" + h + "  y", {L"x", L"y"}, 0, 0},
        {"byte order mark, blank lines", "\xEF\xBB\xBF" + h + "  x\n\n \r\n" + h + "  y\n", {L"x", L"y"}, 0, 0},
        {"escaped", "\\" + h + "  a\\nb\\\\c\n\\SHA256 (d\\re) = " + h + "\n", {L"a\nb\\c", L"d\re"}, 0, 0},
        {"backslashes, dot and doubled folders", h + "  .\\p\\q\n" + h + "  ./r//s/./t\n", {L"p\\q", L"r\\s\\t"}, 0, 0},
        {"UTF-8", h + "  " + kUtf8 + "\n", {kUtf16}, 0, 0},
        {"a digit that is none", h + "  ok\n" + h.substr(0, 63) + "g  x\n", {}, 2, kNoSum},
        {"63 digits", h.substr(1) + "  x\n", {}, 1, kNoSum},
        {"one space", h + " x\n", {}, 1, kNoSum},
        {"no name", "\n" + h + "  \n", {}, 2, kNoSum},
        {"a tag without a name", "SHA256 () = " + h + "\n", {}, 1, kNoSum},
        {"absolute", h + "  /etc/x\n", {}, 1, kNoSum},
        {"a share", h + "  \\\\server\\x\n", {}, 1, kNoSum},
        {"a drive", h + "  C:/x\n", {}, 1, kNoSum},
        {"relative to a drive", h + "  c:x\n", {}, 1, kNoSum},
        {"a parent folder", h + "  a/../../b\n", {}, 1, kNoSum},
        {"a folder", h + "  a/\n", {}, 1, kNoSum},
        {"invalid UTF-8", h + "  \xC3(\n", {}, 1, kNoSum},
        {"an unknown escape", "\\" + h + "  a\\tb\n", {}, 1, kNoSum},
        {"longer than any path", h + "  " + std::string(33000, 'x') + "\n", {}, 1, kNoSum},
        {"listed twice", h + "  a/B\n" + h + "  x\n" + h + "  A\\b\n", {}, 3, ERROR_DUP_NAME},
    };
    TempFolder temp;
    for (const auto& row : rows) {
        ReadBack r = Read(temp.Write(L"sums", row.text));
        EXPECT_EQ(r.badLine, row.badLine) << row.what;
        EXPECT_EQ(r.error, row.error) << row.what;
        EXPECT_EQ(r.paths, row.paths) << row.what;
    }
}

// Lines of many lengths across the reads of a large file, in order; a path listed twice far apart.
TEST(ReadSumFile, LargeFileInOrderAndItsLastDuplicate) {
    TempFolder temp;
    std::string text;
    const uint32_t kLines = 30000;
    for (uint32_t i = 0; i < kLines; ++i) {
        text +=
            h + (i % 3 ? "  dir/" : " *Dir\\") + std::string(i % 37, 'n') + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
    }
    ReadBack r = Read(temp.Write(L"sums", text));
    ASSERT_EQ(r.paths.size(), kLines);
    EXPECT_EQ(r.paths[29999], L"dir\\" + std::wstring(29999 % 37, L'n') + L"29999");
    r = Read(temp.Write(L"sums", text + h + "  DIR/" + std::string(7, 'N') + "7\n"));
    EXPECT_EQ(r.badLine, kLines + 1);
}

TEST(ReadSumFile, AFileThatCannotBeReadKeepsItsError) {
    TempFolder temp;
    EXPECT_EQ(Read(temp.File(L"missing")).error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::wstring file = temp.Write(L"sums", h + "  a\n");
    SeamOverride crc(
        win.ReadFile, +[](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL {
            SetLastError(ERROR_CRC);
            return FALSE;
        });
    ReadBack r = Read(file);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(r.badLine, 0u);
}

TEST(SumWriter, WritesSha256sumLinesThatReadBack) {
    TempFolder temp;
    const std::wstring file = temp.File(L"sums.sha256");
    uint8_t digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(std::stoi(h.substr(2 * i, 2), nullptr, 16));
    SumWriter writer = {};
    ASSERT_TRUE(OpenSumWriter(&writer, file.c_str()));
    for (const std::wstring& name :
         {std::wstring(L"a.txt"), std::wstring(L"\\sub\\deep\\x y.bin"), kUtf16, std::wstring(L"we\nird\r")}) {
        EXPECT_TRUE(WriteSumLine(&writer, digest, name.c_str()));
    }
    // An unpaired surrogate has no UTF-8 form: refused, and nothing written.
    EXPECT_FALSE(WriteSumLine(&writer, digest, L"bad\xD800"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_TRUE(CloseSumWriter(&writer));
    EXPECT_EQ(ReadWholeFile(file),
              h + "  a.txt\n" + h + "  sub/deep/x y.bin\n" + h + "  " + kUtf8 + "\n\\" + h + "  we\\nird\\r\n");
    EXPECT_EQ(Read(file).paths, (std::vector<std::wstring>{L"a.txt", L"sub\\deep\\x y.bin", kUtf16, L"we\nird\r"}));
}

}  // namespace
