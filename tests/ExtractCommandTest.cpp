// d88extract: the order in which it joins the files it is given, and its runs against
// d88extract-a and d88extract-b on the same images.
#include "PartOrder.h"

#include <gtest/gtest.h>

namespace {

struct OrderRow {
    std::vector<PartContents> parts;
    std::vector<int> order;
    bool changed;
    PartProblem problem;
    int first;
    int second;
};

PartContents holding(std::vector<int> ids) {
    return PartContents{ids, !ids.empty()};
}

} // namespace

TEST(PartOrder, DiskAFirstAndWhatKeepsFilesFromMakingASet) {
    const PartContents notImage{{}, false};
    const OrderRow rows[] = {
        {{holding({1, 2, 3, 4})}, {0}, false, PartProblem::None, -1, -1},
        {{holding({2}), holding({4}), holding({1}), holding({3})},
         {2, 0, 1, 3},
         true,
         PartProblem::None,
         -1,
         -1},
        // Disk A first already, or in no file, or two disks of one file: as given.
        {{holding({1}), holding({3}), holding({2}), holding({4})},
         {0, 1, 2, 3},
         false,
         PartProblem::None,
         -1,
         -1},
        {{holding({2, 3}), holding({NO_SET_ID, 5})}, {0, 1}, false, PartProblem::None, -1, -1},
        {{holding({2, 1}), holding({3, 4})}, {0, 1}, false, PartProblem::None, -1, -1},
        {{holding({3, 4}), holding({2, 1})}, {1, 0}, true, PartProblem::None, -1, -1},
        // A file that goes on with the disk of the one before holds no disk of its own.
        {{holding({2}), PartContents{{}, true}, holding({1, 3, 4})},
         {2, 0, 1},
         true,
         PartProblem::None,
         -1,
         -1},
        {{holding({1, 2}), holding({3}), holding({1})},
         {0, 1, 2},
         false,
         PartProblem::TwoDiskA,
         0,
         2},
        {{holding({1, 2}), notImage, holding({3, 4})},
         {0, 1, 2},
         false,
         PartProblem::NotImage,
         1,
         -1},
        {{holding({2}), holding({1}), holding({3})},
         {0, 1, 2},
         false,
         PartProblem::TooFewDisks,
         -1,
         -1},
        // One file: too few disks with nothing of an image in it is no image at all.
        {{holding({1, 2, 3})}, {0}, false, PartProblem::TooFewDisks, -1, -1},
        {{notImage}, {0}, false, PartProblem::NotImage, 0, -1},
        {{PartContents{{1, 2, 3, 4}, false}}, {0}, false, PartProblem::None, -1, -1},
    };
    int row = 0;
    for (const OrderRow& expected : rows) {
        const PartOrder got = decidePartOrder(expected.parts);
        EXPECT_EQ(got.order, expected.order) << "row " << row;
        EXPECT_EQ(got.changed, expected.changed) << "row " << row;
        EXPECT_EQ(got.problem, expected.problem) << "row " << row;
        EXPECT_EQ(got.problemParts[0], expected.first) << "row " << row;
        EXPECT_EQ(got.problemParts[1], expected.second) << "row " << row;
        ++row;
    }
}
