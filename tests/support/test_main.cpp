// The main of every unit test program: Windows' own rules under the seam for every test, and a
// test that breaks one, or leaves a handle open, fails with what it did.
#include <gtest/gtest.h>

#include "support/strict_seam.h"

namespace {

class StrictListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        strict::TakeViolations();
        strict::MarkHandles();
    }
    // Runs before the result is printed, while failures still count for the test.
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& violation : strict::TakeViolations()) ADD_FAILURE() << "Windows refuses " << violation;
        for (const std::string& leak : strict::Leaks()) ADD_FAILURE() << "handle " << leak;
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    strict::Install();
    ::testing::UnitTest::GetInstance()->listeners().Append(new StrictListener);
    return RUN_ALL_TESTS();
}
