// The baseline of putting files back: the least work that d88update's run needs. Reads the image
// file once into one buffer of the file's size, reads each file of MANIFEST (lines "SIZE NAME",
// names in the current folder) once, and writes the image once into OUT, a new file.
#include <cstdio>
#include <sys/stat.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: update_baseline IMAGE MANIFEST OUT\n");
        return 1;
    }
    FILE* in = fopen(argv[1], "rb");
    struct stat info;
    if (in == nullptr || fstat(fileno(in), &info) != 0 || info.st_size <= 0) {
        return 1;
    }
    std::vector<unsigned char> image(static_cast<size_t>(info.st_size));
    setvbuf(in, nullptr, _IONBF, 0);
    if (fread(image.data(), 1, image.size(), in) != image.size()) {
        return 1;
    }
    fclose(in);
    FILE* manifest = fopen(argv[2], "r");
    if (manifest == nullptr) {
        return 1;
    }
    std::vector<unsigned char> file;
    long size = 0;
    char name[256];
    while (fscanf(manifest, "%ld %255s", &size, name) == 2) {
        FILE* changed = fopen(name, "rb");
        if (changed == nullptr) {
            return 1;
        }
        setvbuf(changed, nullptr, _IONBF, 0);
        file.resize(static_cast<size_t>(size));
        if (fread(file.data(), 1, file.size(), changed) != file.size()) {
            return 1;
        }
        fclose(changed);
    }
    fclose(manifest);
    FILE* out = fopen(argv[3], "wbx");
    if (out == nullptr) {
        return 1;
    }
    setvbuf(out, nullptr, _IONBF, 0);
    if (fwrite(image.data(), 1, image.size(), out) != image.size() || fclose(out) != 0) {
        return 1;
    }
    return 0;
}
