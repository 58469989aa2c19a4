// The end-to-end test program: its first argument is the qvb.exe under test.
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/windows.h"
#include "support/process_runner.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: test_e2e PATH_OF_QVB_EXE\n");
        return 2;
    }
    wchar_t path[MAX_PATH * 4];
    if (MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH * 4) <= 0) return 2;
    SetQvbPath(path);
    return RUN_ALL_TESTS();
}
