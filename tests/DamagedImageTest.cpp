// Every kind of damage in the catalogue, run through both programs: the exit status, the
// report lines, the messages and the files must be exactly as listed.
#include "support/DamagedImages.h"
#include "support/ExtractFixture.h"

namespace {

class DamagedImage : public ::testing::TestWithParam<const DirectoryLayout*> {};

} // namespace

TEST_P(DamagedImage, EveryCaseGivesItsExpectedResult) {
    const std::vector<DamagedCase> cases = damagedCases(*GetParam());
    ASSERT_GE(cases.size(), 20u);
    for (const DamagedCase& c : cases) {
        SCOPED_TRACE(c.name);
        struct Runner : ExtractFixture {
            void TestBody() override {}
        } fixture;
        const RunResult result = fixture.extract(*GetParam(), c.image);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, consoleText(c.out));
        EXPECT_EQ(result.err, consoleText(c.err));
        fixture.expectFiles(c.files);
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, DamagedImage, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());
