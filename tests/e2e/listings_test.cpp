// -ld and -lv on what Wine provides: no disk interfaces, and its C: and Z: volumes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace {

std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

TEST(Listings, DisksAndVolumesEndWithExitCodeZero) {
    ProcessResult disks = RunQvb(L"-ld");
    EXPECT_EQ(disks.exitCode, 0u);
    EXPECT_EQ(disks.err, "");
    for (const std::string& line : Lines(disks.out)) EXPECT_EQ(line.rfind("Disk", 0), 0u) << line;

    ProcessResult volumes = RunQvb(L"-lv");
    EXPECT_EQ(volumes.exitCode, 0u);
    EXPECT_EQ(volumes.err, "");
    // Redirected: bare line feeds, no names, and C: before Z:.
    std::vector<std::string> lines = Lines(volumes.out);
    ASSERT_GE(lines.size(), 1u) << volumes.out;
    EXPECT_EQ(lines[0].rfind("C:  \\\\.\\HarddiskVolume", 0), 0u) << lines[0];
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('\r'), std::string::npos);
        EXPECT_EQ(line.substr(27, 4), "Disk") << line;
    }
}

TEST(Listings, OptionsBeforeTheListingCountAndThoseAfterItDoNot) {
    ProcessResult plain = RunQvb(L"-lv");
    ProcessResult after = RunQvb(L"-lv a b c");
    EXPECT_EQ(after.exitCode, 0u);
    EXPECT_EQ(after.out, plain.out);
    ProcessResult before = RunQvb(L"a b c -lv");
    EXPECT_EQ(before.exitCode, 3u);
    EXPECT_EQ(before.out.rfind("invalid parameter c\r\n", 0), 0u) << before.out;
}

}  // namespace
