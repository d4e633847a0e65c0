// The order in which d88extract joins the files it is given, and what keeps them from making a
// disk set: decided once, as values, from what each file holds.
#pragma once

#include "D88Image.h"

#include <vector>

constexpr int NO_SET_ID = -1; // a disk whose ID sector cannot be read, as readSetId says

// What one of the given files holds, in the image that joins them in the given order.
struct PartContents {
    std::vector<int> setIds; // the ID byte of each disk whose header lies in the file, in order
    bool holdsImageBytes;    // some disk that fits in the image (its size at least a header,
                             // its end inside the image) has bytes in the file
};

enum class PartProblem {
    None,
    NotImage,    // parts[0]: not a D88 image (several files given, or too few disks in one)
    TwoDiskA,    // parts[0] and parts[1] both hold a disk with ID byte 01
    TooFewDisks, // fewer than four disks in all
};

struct PartOrder {
    std::vector<int> order; // indexes of the given files, in the order to join them
    bool changed;           // the file holding Disk A was moved first
    PartProblem problem;
    int problemParts[2]; // the files that the problem names, -1 when none
    int diskCount;       // disks in all
};

// As given, except that when the first disk is not Disk A (ID byte 01) and exactly one file
// holds a disk with ID byte 01, that file goes first. A problem leaves the order as given.
PartOrder decidePartOrder(const std::vector<PartContents>& parts);

// What each file of `image` (open, joined in the order given) holds.
std::vector<PartContents> readPartContents(d88::D88Image& image);
