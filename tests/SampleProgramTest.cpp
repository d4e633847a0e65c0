// d88sample end to end: its command line, and failures to write the image or standard output.
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

TEST(Sample, CommandLineAndFailedWrites) {
    TempDir dir;
    RunOptions options;
    options.cwd = dir.path();
    const auto run = [&](const std::vector<std::string>& words, RunOptions with) {
        return runProgram(D88SAMPLE_PATH, words, with);
    };
    const RunResult help = run({"d88sample", "--help"}, options);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(
        help.out.rfind("usage: d88sample [--layout a|b] [--full] [--disks N] OUTPUT.d88\n", 0), 0u);
    EXPECT_EQ(run({"d88sample", "--version"}, options).out,
              std::string("d88sample ") + D88_VERSION + "\n");

    const std::string hint = "\nTry 'd88sample --help' for more information.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{"d88sample"}, "no output file given"},
        {{"d88sample", "--disks", "3", "x.d88"}, "--disks needs a number from 4 to 64, got '3'"},
        {{"d88sample", "--disks", "4", "--disks", "5", "x.d88"}, "--disks given twice"},
        {{"d88sample", "--layout", "c", "x.d88"}, "--layout needs a or b, got 'c'"},
        {{"d88sample", "--fast", "x.d88"}, "unknown option '--fast'"},
        {{"d88sample", "x.d88", "y.d88"}, "one output file only, got 'x.d88' and 'y.d88'"}};
    for (const auto& [words, message] : errors) {
        const RunResult result = run(words, options);
        EXPECT_EQ(result.status, 1) << message;
        EXPECT_EQ(result.err, "d88sample: " + message + hint);
    }
    EXPECT_TRUE(listDirectory(dir.path()).empty());

    RunOptions full = options;
    full.stdoutPath = "/dev/full";
    const RunResult noOutput = run({"d88sample", "x.d88"}, full);
    EXPECT_EQ(noOutput.status, 1);
    EXPECT_EQ(noOutput.err,
              std::string("d88sample: cannot write standard output: ") + strerror(ENOSPC) + "\n");

    RunOptions limited = options;
    limited.fileSizeLimit = 65536;
    const RunResult tooLarge = run({"d88sample", "big.d88"}, limited);
    EXPECT_EQ(tooLarge.status, 1);
    EXPECT_EQ(tooLarge.err,
              std::string("d88sample: cannot write big.d88: ") + strerror(EFBIG) + "\n");
    const RunResult noFolder = run({"d88sample", "no/such.d88"}, options);
    EXPECT_EQ(noFolder.err,
              std::string("d88sample: cannot write no/such.d88: ") + strerror(ENOENT) + "\n");
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"x.d88"})
        << "only the image whose report could not be printed is left";
}
