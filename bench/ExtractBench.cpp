// Benchmark: d88extract-a on generated disk sets against a baseline that only reads the image
// once and writes the same number of files with the same total size. Prints the median wall
// times, their ratio, the extraction's peak resident memory and its system calls.
#include "SampleDiskSet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

void removeTree(const std::string& path) {
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Times {
    double wall;
    double cpu; // user + system
};

// Runs `words` in a fresh folder `dir` with standard output discarded.
Times runIn(const std::string& dir, const std::vector<std::string>& words) {
    removeTree(dir);
    mkdir(dir.c_str(), 0700);
    std::vector<char*> argv;
    std::vector<std::string> copy = words;
    for (std::string& word : copy) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const double start = now();
    pid_t child = -1;
    const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    int status = 0;
    rusage usage{};
    if (error == 0) {
        wait4(child, &status, 0, &usage);
    }
    const double seconds = now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", words[0].c_str());
        exit(1);
    }
    const auto secondsOf = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return Times{seconds, secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

size_t countFiles(const std::string& dir) {
    size_t count = 0;
    const std::string command = "ls -A '" + dir + "' | wc -l";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (fscanf(pipe, "%zu", &count) != 1) {
            count = 0;
        }
        pclose(pipe);
    }
    return count;
}

// The peak resident memory of one extraction in KiB, measured by GNU time: a process forked
// from this one would carry this process's own peak into its count. -1 when time is missing.
long peakResidentKiB(const std::string& dir, const std::string& image) {
    removeTree(dir);
    mkdir(dir.c_str(), 0700);
    const std::string command = "cd '" + dir + "' && /usr/bin/time -f %M '" + D88EXTRACT_A_PATH +
                                "' '" + image + "' 2>&1 >/dev/null | tail -n 1";
    long kib = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (fscanf(pipe, "%ld", &kib) != 1) {
            kib = -1;
        }
        pclose(pipe);
    }
    return kib;
}

// Counts the system calls of one extraction with strace -c -f, when strace is present.
void printSystemCalls(const std::string& dir, const std::string& image) {
    if (system("command -v strace >/dev/null 2>&1") != 0) {
        printf("  system calls    (strace not found)\n");
        return;
    }
    removeTree(dir);
    mkdir(dir.c_str(), 0700);
    const std::string log = dir + ".strace";
    const std::string command = "cd '" + dir + "' && strace -c -f -o '" + log + "' '" +
                                D88EXTRACT_A_PATH + "' '" + image + "' >/dev/null";
    if (system(command.c_str()) != 0) {
        printf("  system calls    (strace failed)\n");
        return;
    }
    FILE* in = fopen(log.c_str(), "r");
    char line[512];
    std::string detail;
    long total = 0;
    while (in != nullptr && fgets(line, sizeof line, in) != nullptr) {
        double percent, seconds;
        long usecs, calls;
        char name[64];
        if (sscanf(line, "%lf %lf %ld %ld %*s %63s", &percent, &seconds, &usecs, &calls, name) ==
                5 ||
            sscanf(line, "%lf %lf %ld %ld %63s", &percent, &seconds, &usecs, &calls, name) == 5) {
            if (strcmp(name, "total") == 0) {
                total = calls;
            } else if (calls >= 20) {
                detail +=
                    (detail.empty() ? "" : ", ") + std::string(name) + " " + std::to_string(calls);
            }
        }
    }
    if (in != nullptr) {
        fclose(in);
    }
    remove(log.c_str());
    printf("  system calls    %ld (%s)\n", total, detail.c_str());
}

void benchmark(const std::string& work, int disks, int repetitions) {
    d88::SampleSet set = d88::fullSampleSet(LAYOUT_A, disks);
    std::vector<d88::DiskPlan> plans;
    if (!d88::buildSampleDisks(set, plans)) {
        fprintf(stderr, "cannot build the %d-disk set\n", disks);
        exit(1);
    }
    const std::string image = work + "/set" + std::to_string(disks) + ".d88";
    size_t imageBytes = 0;
    {
        const std::vector<uint8_t> bytes = d88::buildImage(plans);
        imageBytes = bytes.size();
        if (!d88::writeBytes(image, bytes)) {
            fprintf(stderr, "cannot write %s\n", image.c_str());
            exit(1);
        }
    }
    plans.clear();
    size_t total = 0;
    for (d88::SampleFile& file : set.files) {
        total += file.bytes.size();
        file.bytes = std::vector<uint8_t>(); // only the counts are needed from here on
    }
    const std::string dir = work + "/out";
    const std::vector<std::string> extract = {D88EXTRACT_A_PATH, image};
    const std::vector<std::string> baseline = {
        BASELINE_PATH, image, std::to_string(set.files.size()), std::to_string(total)};
    runIn(dir, extract); // warm the page cache
    runIn(dir, baseline);
    std::vector<double> a, b, cpuA, cpuB;
    for (int i = 0; i < repetitions; ++i) {
        const Times timesA = runIn(dir, extract);
        a.push_back(timesA.wall);
        cpuA.push_back(timesA.cpu);
        if (countFiles(dir) != set.files.size()) {
            fprintf(stderr, "the extraction wrote %zu files, not %zu\n", countFiles(dir),
                    set.files.size());
            exit(1);
        }
        const Times timesB = runIn(dir, baseline);
        b.push_back(timesB.wall);
        cpuB.push_back(timesB.cpu);
    }
    const long peak = peakResidentKiB(dir, image);
    printf("%d disks: image %zu bytes, %zu files, %zu bytes written, %d repetitions\n", disks,
           imageBytes, set.files.size(), total, repetitions);
    printf("  d88extract-a    median %.4f s, peak resident memory %ld KiB\n", median(a), peak);
    printf("  baseline        median %.4f s\n", median(b));
    printf("  ratio           %.3f\n", median(a) / median(b));
    printf("  cpu time        median %.4f s against %.4f s, ratio %.3f\n", median(cpuA),
           median(cpuB), median(cpuA) / median(cpuB));
    fflush(stdout);
    printSystemCalls(dir, image);
    removeTree(dir);
    remove(image.c_str());
}

} // namespace

int main(int argc, char** argv) {
    int repetitions = 15;
    if (argc == 3 && strcmp(argv[1], "--repetitions") == 0) {
        repetitions = atoi(argv[2]);
    } else if (argc != 1) {
        fprintf(stderr, "usage: extract_bench [--repetitions N]\n");
        return 1;
    }
    if (repetitions < 1) {
        repetitions = 1;
    }
    const char* base = getenv("TMPDIR");
    std::string work =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88bench.XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        return 1;
    }
    benchmark(work, 4, repetitions);
    benchmark(work, 64, repetitions);
    removeTree(work);
    return 0;
}
