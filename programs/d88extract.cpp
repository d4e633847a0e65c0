// Entry point of d88extract-a and d88extract-b; D88_LAYOUT_B selects the second layout.
#include "ExtractTool.h"
#include "Host.h"

// The one image of the run, closed when it is destroyed at exit.
static d88::D88Image image;

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
#ifdef D88_LAYOUT_B
    return runExtractTool(image, LAYOUT_B, argc, argv);
#else
    return runExtractTool(image, LAYOUT_A, argc, argv);
#endif
}
