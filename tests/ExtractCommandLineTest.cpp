// The extraction programs' command line, their start-up messages and exit statuses.
#include "support/DamagedImages.h"
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"

#include <string>

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

TEST_P(CommandLine, ImageThatCannotBeOpened) {
    for (const std::string& path :
         {root.file("missing.d88"), root.path() + "/no/such/dir.d88", root.path()}) {
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
    RunOptions options;
    options.stdoutPath = "/dev/full";
    const RunResult result = extract(layout(), set.build(), options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, consoleText("cannot write standard output\n"));
    expectFiles({{"A.BIN", patternBytes(1, 1)}});
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, CommandLine, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());
