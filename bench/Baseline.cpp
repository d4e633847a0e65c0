// The benchmark's baseline: the unavoidable work of an extraction. Reads the image file once,
// sequentially, and writes COUNT files holding TOTAL bytes between them.
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: bench_baseline IMAGE COUNT TOTAL\n");
        return 1;
    }
    const long count = atol(argv[2]);
    const long total = atol(argv[3]);
    FILE* in = fopen(argv[1], "rb");
    if (in == nullptr || count <= 0 || total < 0) {
        return 1;
    }
    std::vector<unsigned char> image;
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        image.insert(image.end(), chunk, chunk + got);
    }
    fclose(in);
    if (image.empty()) {
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        const long size = total / count + (i == count - 1 ? total % count : 0);
        char name[32];
        snprintf(name, sizeof name, "B%04ld.BIN", i);
        FILE* out = fopen(name, "wb");
        if (out == nullptr) {
            return 1;
        }
        for (long written = 0; written < size;) {
            const long offset = (i * 1024 + written) % static_cast<long>(image.size());
            long piece = static_cast<long>(image.size()) - offset;
            piece = piece < size - written ? piece : size - written;
            fwrite(image.data() + offset, 1, static_cast<size_t>(piece), out);
            written += piece;
        }
        if (fclose(out) != 0) {
            return 1;
        }
    }
    return 0;
}
