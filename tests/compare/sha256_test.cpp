// SHA-256 sums through bcrypt.dll: the published vectors in chunks of every size, and a failing
// call of the system's hash ends the sum, never giving a digest of part of the data. The strict
// layer under the seam fails a test that leaves a hash or the algorithm open.
#include "compare/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/seam.h"

namespace {

using Sha256Test = SeamTest;

TEST_F(Sha256Test, KnownDigestsWhateverTheChunks) {
    const struct {
        std::string data;
        std::vector<uint32_t> chunks;  // taken in turn until the data is used up
        const char* hex;
    } rows[] = {
        {"", {0}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", {3}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         {1, 0, 55},
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         {1, 63, 0, 64, 65, 4095, 100003},
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Sha256 sum = {};
    for (const auto& row : rows) {
        ASSERT_TRUE(Sha256Start(&sum));
        for (size_t at = 0, turn = 0; at < row.data.size() || turn == 0; ++turn) {
            uint32_t count = std::min<uint32_t>(row.chunks[turn % row.chunks.size()], row.data.size() - at);
            ASSERT_TRUE(Sha256Add(&sum, reinterpret_cast<const uint8_t*>(row.data.data()) + at, count));
            at += count;
        }
        uint8_t digest[32];
        char hex[65];
        ASSERT_TRUE(Sha256Finish(&sum, digest));
        Sha256Hex(digest, hex);
        EXPECT_STREQ(hex, row.hex) << row.data.size() << " bytes";
        EXPECT_FALSE(Sha256Finish(&sum, digest));  // a finished sum is ended
    }
    ReleaseSha256();
}

template <typename... Args>
NTSTATUS WINAPI NoMemory(Args...) {
    return static_cast<NTSTATUS>(0xC0000017);
}

TEST_F(Sha256Test, AFailingCallEndsTheSum) {
    const struct {
        void (*fail)();
        bool started, added, finished;
    } rows[] = {
        {[] { win.BCryptOpenAlgorithmProvider = NoMemory; }, false, false, false},
        {[] { win.BCryptCreateHash = NoMemory; }, false, false, false},
        {[] { win.BCryptHashData = NoMemory; }, true, false, false},
        {[] { win.BCryptFinishHash = NoMemory; }, true, true, false},
    };
    const uint8_t abc[3] = {'a', 'b', 'c'};
    uint8_t digest[32];
    for (const auto& row : rows) {
        ReleaseSha256();
        row.fail();
        Sha256 sum = {};
        DWORD firstError = 0;
        auto noted = [&](bool ok) {
            if (!ok && !firstError) firstError = GetLastError();
            return ok;
        };
        EXPECT_EQ(noted(Sha256Start(&sum)), row.started);
        EXPECT_EQ(noted(Sha256Add(&sum, abc, 3)), row.added);
        EXPECT_EQ(noted(Sha256Finish(&sum, digest)), row.finished);
        EXPECT_EQ(firstError, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        // Nothing of the failure is kept: the same sum works once the system does.
        RestoreWinApi();
        ASSERT_TRUE(Sha256Start(&sum) && Sha256Add(&sum, abc, 3) && Sha256Finish(&sum, digest));
        EXPECT_EQ(digest[0], 0xba);
    }
    ReleaseSha256();
}

}  // namespace
