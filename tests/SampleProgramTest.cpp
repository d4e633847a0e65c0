// d88sample end to end: its command line, and failures to write the image or standard output.
#include "support/ExtractFixture.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <csignal>

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
    expectWithin80Columns(help.out);
    EXPECT_EQ(run({"d88sample", "--version"}, options).out,
              std::string("d88sample ") + D88_VERSION + "\n");

    const std::string hint = "\nTry 'd88sample --help' for more information.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{"d88sample"}, "no output file given"},
        {{"d88sample", "--disks", "3", "x.d88"}, "--disks needs a number from 4 to 64, got '3'"},
        {{"d88sample", "--disks", "4", "--disks", "5", "x.d88"}, "--disks given twice"},
        {{"d88sample", "--layout=a", "--layout", "b", "x.d88"}, "--layout given twice"},
        {{"d88sample", "--layout", "c", "x.d88"}, "--layout needs a or b, got 'c'"},
        {{"d88sample", "x.d88", "--disks"}, "--disks needs a number from 4 to 64"},
        {{"d88sample", "--fast", "x.d88"}, "unknown option '--fast'"},
        {{"d88sample", "x.d88", "y.d88"}, "one output file only, got 'x.d88' and 'y.d88'"}};
    for (const auto& [words, message] : errors) {
        const RunResult result = run(words, options);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_EQ(result.err, "d88sample: " + message + hint);
    }
    EXPECT_TRUE(listDirectory(dir.path()).empty());

    RunOptions full = options;
    full.stdoutPath = "/dev/full";
    const RunResult noOutput = run({"d88sample", "x.d88"}, full);
    EXPECT_EQ(noOutput.status, 1);
    EXPECT_EQ(noOutput.err,
              std::string("d88sample: cannot write standard output: ") + strerror(ENOSPC) + "\n");
    // A reader that left ends the program as it ends ls: by SIGPIPE when that is left to its
    // default action, and with a message when the shell ignores it. The image is written.
    for (const bool ignored : {false, true}) {
        RunOptions closed = options;
        closed.closedPipe = true;
        closed.pipeSignalIgnored = ignored;
        const RunResult result = run({"d88sample", "piped.d88"}, closed);
        EXPECT_EQ(result.status, ignored ? 1 : 128 + SIGPIPE);
        EXPECT_EQ(result.err, ignored ? "d88sample: cannot write standard output: " +
                                            std::string(strerror(EPIPE)) + "\n"
                                      : "");
        EXPECT_EQ(unlink(dir.file("piped.d88").c_str()), 0);
    }

    // A write that fails leaves the file that was there as it was, and no temporary file.
    const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
    dir.write("mine.d88", mine);
    RunOptions limited = options;
    limited.fileSizeLimit = 65536;
    const RunResult tooLarge = run({"d88sample", "mine.d88"}, limited);
    EXPECT_EQ(tooLarge.status, 1);
    EXPECT_EQ(tooLarge.err,
              std::string("d88sample: cannot write 'mine.d88': ") + strerror(EFBIG) + "\n");
    EXPECT_EQ(readFileBytes(dir.file("mine.d88")), mine);
    const RunResult noFolder = run({"d88sample", "no/such.d88"}, options);
    EXPECT_EQ(noFolder.err,
              std::string("d88sample: cannot write 'no/such.d88': ") + strerror(ENOENT) + "\n");
    EXPECT_EQ(listDirectory(dir.path()), (std::vector<std::string>{"mine.d88", "x.d88"}));
    ASSERT_EQ(chmod(dir.file("x.d88").c_str(), 0604), 0);
    const RunResult replaced = run({"d88sample", dir.file("x.d88")}, options);
    EXPECT_EQ(replaced.status, 0);
    EXPECT_NE(replaced.out.find(", replacing the file that was there\n"), std::string::npos)
        << replaced.out;
    struct stat replacedInfo;
    EXPECT_TRUE(stat(dir.file("x.d88").c_str(), &replacedInfo) == 0 &&
                (replacedInfo.st_mode & 07777) == 0604)
        << "the replacement keeps the old file's permissions";

    // What is not a regular file is never replaced: a device node (a copy of /dev/null, made
    // when this user may), a pipe, a folder, a symbolic link.
    std::vector<std::pair<std::string, std::string>> kept = {{"pipe", "it is not a regular file"},
                                                             {"folder", strerror(EISDIR)},
                                                             {"link", "it is a symbolic link"}};
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    ASSERT_EQ(symlink("mine.d88", dir.file("link").c_str()), 0);
    if (mknod(dir.file("device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        kept.push_back({"device", "it is not a regular file"});
    }
    for (const auto& [name, reason] : kept) {
        struct stat before;
        ASSERT_EQ(lstat(dir.file(name).c_str(), &before), 0);
        const RunResult refused = run({"d88sample", name}, options);
        EXPECT_EQ(refused.status, 1) << name;
        EXPECT_EQ(refused.err, "d88sample: cannot write '" + name + "': " + reason + "\n");
        struct stat after;
        EXPECT_TRUE(lstat(dir.file(name).c_str(), &after) == 0 && after.st_ino == before.st_ino &&
                    after.st_mode == before.st_mode)
            << name << " is left alone";
    }
    EXPECT_EQ(readFileBytes(dir.file("mine.d88")), mine);
    EXPECT_EQ(listDirectory(dir.path()).size(), 2 + kept.size()) << "no temporary file is left";
}
