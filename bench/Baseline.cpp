// The benchmark's baseline: the least work an extraction needs. Reads the image file once
// into one buffer of the file's size and writes the files of MANIFEST (lines "SIZE NAME")
// from it, each with one write.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench_baseline IMAGE MANIFEST\n");
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
    long size = 0;
    char name[256];
    size_t offset = 0;
    while (fscanf(manifest, "%ld %255s", &size, name) == 2) {
        FILE* out = fopen(name, "wb");
        if (out == nullptr) {
            return 1;
        }
        setvbuf(out, nullptr, _IONBF, 0);
        for (long written = 0; written < size;) {
            offset %= image.size();
            const size_t piece =
                std::min(image.size() - offset, static_cast<size_t>(size - written));
            if (fwrite(image.data() + offset, 1, piece, out) != piece) {
                return 1;
            }
            written += static_cast<long>(piece);
            offset += piece;
        }
        if (fclose(out) != 0) {
            return 1;
        }
    }
    fclose(manifest);
    return 0;
}
