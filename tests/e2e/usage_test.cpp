#include <gtest/gtest.h>

#include "support/process_runner.h"

namespace {

const char kUsage[] =
    "QVB version 1.0.6\r\n"
    "\r\n"
    "Usage:\r\n"
    "QVB FileSpec1 FileSpec2 [-i]\r\n"
    "\r\n"
    "-s    recurse subdirs (default if source is a folder)\r\n"
    "-p    parse reparse points\r\n"
    "-e    exclude mask (once for each mask)\r\n"
    "-i    ignore different file sizes, compare up to smaller size\r\n"
    "-fi:n first n bytes only\r\n"
    "-st:n start at byte n\r\n"
    "-sz   do not compare blocks which are zero only in file1 or file2\r\n"
    "-sz1  do not compare blocks which are zero only in file1\r\n"
    "-sz2  do not compare blocks which are zero only in file2\r\n"
    "-r:n  retry n times on CRC or IO error (default 10)\r\n"
    "-q    quiet mode (show summary only)\r\n"
    "-b    both ways: also name what only the target folder holds\r\n"
    "-o:f  write the result of every entry to file f\r\n"
    "-h:f  write the SHA-256 of every file found identical to file f\r\n"
    "-c:f  check the files of one folder or file against the sums in file f\r\n"
    "-lv   list volumes\r\n"
    "-ld   list disks\r\n"
    "-n    no wait for keypress on finish if started standalone\r\n"
    "\r\n";

TEST(Usage, NoArgumentsPrintsBannerAndUsageWithExitCode2) {
    for (const wchar_t* args : {L"", L"/?", L"-?", L"-q /?"}) {
        ProcessResult r = RunQvb(args);
        ASSERT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 2u);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
