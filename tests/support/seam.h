// Replacing entries of the Windows seam in a test.
#pragma once

#include <type_traits>

#include "platform/win_api.h"

// Replaces one entry for the life of the guard and puts the previous one back, so guards nest.
//   SeamOverride fail(win.ReadFile, +[](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL { ... });
template <typename Function>
class SeamOverride {
public:
    SeamOverride(Function& slot, std::type_identity_t<Function> replacement) : slot_(&slot), saved_(slot) {
        slot = replacement;
    }
    ~SeamOverride() { *slot_ = saved_; }
    SeamOverride(const SeamOverride&) = delete;
    SeamOverride& operator=(const SeamOverride&) = delete;

private:
    Function* slot_;
    Function saved_;
};

// A test fixture that restores the whole table after each test, whatever the test replaced.
#include <gtest/gtest.h>
class SeamTest : public ::testing::Test {
protected:
    void TearDown() override { RestoreWinApi(); }
};
