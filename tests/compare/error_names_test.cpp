#include "compare/error_names.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/windows.h"
#include "support/temp_folder.h"

namespace {

TEST(ErrorName, ListedWordsAndDecimalText) {
    struct {
        uint32_t code;
        const char* word;
    } cases[] = {
        {23, "CRC"},
        {0, "0"},
        {4, "4"},
        {4294967295u, "4294967295"},
        {1112, "NO_MEDIA_IN_DRIVE"},
        {1111, "1111"},
        {1, "INVALID_FUNCTION"},
        {144, "ERROR_DIR_NOT_ROOT"},
        {183, "ERROR_ALREADY_EXISTS"},
        {1921, "CANT_RESOLVE_FILENAME"},
        {1922, "1922"},
    };
    for (const auto& c : cases) EXPECT_STREQ(ErrorName(c.code), c.word) << c.code;
}

TEST(LastErrorName, NamesTheFailedOpen) {
    TempFolder temp;
    HANDLE file = CreateFileW(temp.File(L"missing.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(LastErrorName(), "FILE_NOT_FOUND");
    SetLastError(70000);
    EXPECT_STREQ(LastErrorName(), "70000");
}

// Two threads name unlisted errors in turn; each text must still be its own when the other
// thread has named its error in between, as it is when both reader threads fail at once.
struct Turn {
    HANDLE mine, theirs;
    uint32_t code;
    std::string seenAfter;
};

DWORD WINAPI NameInTurn(void* argument) {
    auto* turn = static_cast<Turn*>(argument);
    WaitForSingleObject(turn->mine, 5000);
    const char* text = ErrorName(turn->code);
    SetEvent(turn->theirs);
    WaitForSingleObject(turn->mine, 5000);
    turn->seenAfter = text;
    SetEvent(turn->theirs);
    return 0;
}

TEST(ErrorName, EachThreadKeepsItsOwnText) {
    HANDLE a = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Turn first{a, b, 1000001, {}};
    Turn second{b, a, 2000002, {}};
    HANDLE threads[2] = {CreateThread(nullptr, 0, NameInTurn, &first, 0, nullptr),
                         CreateThread(nullptr, 0, NameInTurn, &second, 0, nullptr)};
    SetEvent(a);  // first names, then second, then first looks again, then second
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(first.seenAfter, "1000001");
    EXPECT_EQ(second.seenAfter, "2000002");
    for (HANDLE h : {threads[0], threads[1], a, b}) CloseHandle(h);
}

}  // namespace
