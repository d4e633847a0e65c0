#include "LayoutText.h"

#include <string>

namespace {

std::string counted(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::string joinHintText() {
    return "  join the set's disk files into one image, Disk A first:\n"
           "    cat A.d88 B.d88 C.d88 D.d88 > set.d88\n"
           "  (on Windows: copy /b A.d88+B.d88+C.d88+D.d88 set.d88)\n"
           "  or give them to d88extract as they are\n";
}

std::string layoutLinesText(const ImagePlan& plan, bool programs) {
    if (programs && !plan.enoughDisks) {
        return "disk set: " + counted(plan.diskCount, "disk", "disks") +
               ", fewer than four, d88extract-a and d88extract-b extract nothing\n" +
               joinHintText();
    }
    std::string text = "disk set: ";
    const char* separator = "";
    for (int i = 0; i < 2; ++i) {
        if (plan.files[i] > 0) {
            text += separator + std::string("layout ") + SET_LAYOUTS[i]->letter + " (" +
                    SET_LAYOUTS[i]->programName + "), " + counted(plan.files[i], "file", "files");
            separator = "; ";
        }
    }
    text += *separator != '\0' ? "\n" : "no files in either layout\n";
    if (plan.diskAElsewhere >= 0) {
        text += "  disk " + std::to_string(plan.diskAElsewhere) +
                " carries set-id 01 (Disk A), but d88extract-a and d88extract-b read the "
                "directory from disk 0: put Disk A first, or use d88extract\n";
    }
    return text;
}
