// The extraction programs' command line, their start-up messages and exit statuses.
#include "support/DamagedImages.h"
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The exact Shift_JIS bytes of the two Japanese messages.
const std::string CANNOT_OPEN = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
                                "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";

using CommandLine = LayoutTest;

} // namespace

TEST_P(CommandLine, WrongArgumentCountShowsUsageWithTheNameAsTyped) {
    for (const auto& words :
         std::vector<std::vector<std::string>>{{"./typed-name"}, {"typed", "one.d88", "two.d88"}}) {
        const RunResult result = runWords(layout(), words);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        if (usesLauncher()) {
            // The launcher passes the program's own path as the first word.
            const std::string tail = consoleText(" [d88file]\n");
            EXPECT_EQ(result.err.rfind("Usage: ", 0), 0u) << result.err;
            ASSERT_GE(result.err.size(), tail.size());
            EXPECT_EQ(result.err.substr(result.err.size() - tail.size()), tail);
            EXPECT_NE(result.err.find(layout().programName), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(result.err, "Usage: " + words[0] + " [d88file]\n");
        }
    }
    expectFiles({});
}

TEST_P(CommandLine, NoWordAtAllShowsTheProgramsOwnName) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the launcher always passes a first word";
    }
    const RunResult result = runWords(layout(), {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Usage: " + std::string(layout().programName) + " [d88file]\n");
}

// A folder, and (on Linux) a FIFO that no one writes and a character device, which must not
// block the program or be read as an empty image.
TEST_P(CommandLine, ImageThatCannotBeOpened) {
    std::vector<std::string> paths = {root.file("missing.d88"), root.path() + "/no/such/dir.d88",
                                      root.path()};
    if (!usesLauncher()) {
        ASSERT_EQ(mkfifo(root.file("fifo.d88").c_str(), 0600), 0);
        paths.push_back(root.file("fifo.d88"));
        paths.push_back("/dev/null");
    }
    for (const std::string& path : paths) {
        const RunResult result = runWords(layout(), {"x", path});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, consoleText(CANNOT_OPEN));
    }
}

TEST_P(CommandLine, FewerThanFourDisksExtractNothing) {
    DiskSetImage three(3);
    three.setEntry(layout().firstEntryOffset, "A.BIN", 2, 1, 1, 0);
    three.putFile(0, 2, 1, patternBytes(1, 1));
    const std::vector<std::vector<uint8_t>> images = {
        {}, std::vector<uint8_t>(687, 0), three.build()};
    for (const auto& image : images) {
        const RunResult result = extract(layout(), image);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, consoleText(TOO_FEW_DISKS_MESSAGE));
        expectFiles({});
    }
}

TEST_P(CommandLine, ReportThatCannotBeWrittenIsAFailure) {
    DiskSetImage set(4);
    set.setEntry(layout().firstEntryOffset, "A.BIN", 2, 1, 1, 0);
    set.putFile(0, 2, 1, patternBytes(1, 1));
    set.setEntry(layout().firstEntryOffset + 16, "B.BIN", 2, 1, 1, 0);
    RunOptions full;
    full.stdoutPath = "/dev/full";
    RunOptions closedPipe; // `| head -0`: SIGPIPE does not end the walk
    closedPipe.closedPipe = true;
    for (const RunOptions& options : {full, closedPipe}) {
        const RunResult result = extract(layout(), set.build(), options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, consoleText("cannot write standard output\n"));
        expectFiles({{"A.BIN", patternBytes(1, 1)}, {"B.BIN", patternBytes(1, 1)}});
    }
}

// The image is the file that the user named, whatever characters its name has: on Windows
// under any code page, not a file whose name the system's code page makes of it.
TEST_P(CommandLine, ImagePathsOpenTheFileNamed) {
    const auto setWith = [this](const std::string& name) {
        DiskSetImage set(4);
        set.setEntry(layout().firstEntryOffset, name, 2, 1, 1, 0);
        set.putFile(0, 2, 1, patternBytes(1, 1));
        return set.build();
    };
    TempDir images; // the fixture's root holds only its own image and folder
    images.write("SET.d88", setWith("WRONG.BIN"));
    for (const char* name : {"\xEF\xBC\xB3\xEF\xBC\xA5\xEF\xBC\xB4.d88",    // ＳＥＴ.d88
                             "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.d88"}) { // データ.d88
        const RunResult result =
            runWords(layout(), {"x", images.write(name, setWith("RIGHT.BIN"))});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, consoleText("RIGHT.BIN     DISK:01 TRK:02 SEC:01 SIZE:400\n"));
        expectFiles({{"RIGHT.BIN", patternBytes(1, 1)}});
        unlink((work + "/RIGHT.BIN").c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, CommandLine, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());
