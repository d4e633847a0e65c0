// Benchmark: d88extract-a on generated disk sets and on the two worst-case images against a
// baseline that reads the image once and writes the same files. Prints the median wall times,
// the medians of the paired wall-time and CPU-time ratios, the extraction's peak resident
// memory and its system calls. On the full four-disk set, d88extract too: on the joined image
// and on its four disk files, against the same baseline and against d88extract-a.
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

// Runs `words` in a fresh folder `dir` (or, with `keep`, in `dir` as an earlier run left it)
// with standard output and standard error discarded.
Times runIn(const std::string& dir, const std::vector<std::string>& words, bool keep = false) {
    if (!keep) {
        removeTree(dir);
        mkdir(dir.c_str(), 0700);
    }
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
    // d88extract says on standard error in which order it reads the disk files.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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

// Counts the system calls of one extraction with strace -c -f, when strace is present; with
// `overEarlier`, of one over the files of an earlier run.
void printSystemCalls(const std::string& dir, const std::string& image, bool overEarlier = false) {
    if (system("command -v strace >/dev/null 2>&1") != 0) {
        printf("  system calls    (strace not found)\n");
        return;
    }
    if (overEarlier) {
        runIn(dir, {D88EXTRACT_A_PATH, image});
    } else {
        removeTree(dir);
        mkdir(dir.c_str(), 0700);
    }
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

// The files that an extraction wrote into `dir`, as baseline manifest lines "SIZE NAME".
std::string manifestOf(const std::string& dir, size_t& files) {
    std::string manifest;
    files = 0;
    const std::string command = "cd '" + dir + "' && find . -maxdepth 1 -type f -printf '%s %f\\n'";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, pipe) != nullptr) {
            manifest += line;
            ++files;
        }
        pclose(pipe);
    }
    return manifest;
}

// Writes the names and sizes of the files in `dir` to WORK/manifest, for the baseline; returns
// its path.
std::string writeManifest(const std::string& dir, const std::string& work, size_t& files) {
    const std::string manifest = work + "/manifest";
    const std::string lines = manifestOf(dir, files);
    FILE* out = fopen(manifest.c_str(), "w");
    if (out == nullptr || fputs(lines.c_str(), out) < 0 || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", manifest.c_str());
        exit(1);
    }
    return manifest;
}

// Runs d88extract-a on `image` and the baseline (which reads the image once and writes the
// same files) in alternation and prints the medians of their paired ratios.
void benchmark(const std::string& work, const std::string& title, const std::string& image,
               int repetitions) {
    const std::string dir = work + "/out";
    const std::vector<std::string> extract = {D88EXTRACT_A_PATH, image};
    runIn(dir, extract); // warms the page cache and shows what the extraction writes
    size_t files = 0;
    const std::string manifest = writeManifest(dir, work, files);
    const std::vector<std::string> baseline = {BASELINE_PATH, image, manifest};
    runIn(dir, baseline);
    std::vector<double> a, b, ratio, cpuRatio;
    for (int i = 0; i < repetitions; ++i) {
        const Times timesA = runIn(dir, extract);
        if (countFiles(dir) != files) {
            fprintf(stderr, "the extraction wrote %zu files, not %zu\n", countFiles(dir), files);
            exit(1);
        }
        const Times timesB = runIn(dir, baseline);
        a.push_back(timesA.wall);
        b.push_back(timesB.wall);
        ratio.push_back(timesA.wall / timesB.wall);
        cpuRatio.push_back(timesA.cpu / std::max(timesB.cpu, 1e-6));
    }
    struct stat info;
    const long long imageBytes = stat(image.c_str(), &info) == 0 ? info.st_size : -1;
    const long peak = peakResidentKiB(dir, image);
    printf("%s: image %lld bytes, %zu files written, %d paired runs\n", title.c_str(), imageBytes,
           files, repetitions);
    printf("  d88extract-a    median %.4f s, peak resident memory %ld KiB\n", median(a), peak);
    printf("  baseline        median %.4f s\n", median(b));
    printf("  ratio           %.3f (median of paired ratios)\n", median(ratio));
    printf("  cpu time ratio  %.3f (median of paired ratios)\n", median(cpuRatio));
    fflush(stdout);
    printSystemCalls(dir, image);
    removeTree(dir);
    remove(manifest.c_str());
}

// Runs d88extract-a over the files of an earlier run (each one replaced, its bytes synced to the
// disk first) in alternation with a run into an empty folder, and prints the medians.
void benchmarkReextraction(const std::string& work, const std::string& title,
                           const std::string& image, int repetitions) {
    const std::string dir = work + "/out";
    const std::vector<std::string> extract = {D88EXTRACT_A_PATH, image};
    runIn(dir, extract);
    std::vector<double> fresh, again, ratio;
    for (int i = 0; i < repetitions; ++i) {
        const Times first = runIn(dir, extract);
        const Times second = runIn(dir, extract, true);
        fresh.push_back(first.wall);
        again.push_back(second.wall);
        ratio.push_back(second.wall / first.wall);
    }
    printf("%s, again over the files of an earlier run: %d paired runs\n", title.c_str(),
           repetitions);
    printf("  into an empty folder   median %.4f s\n", median(fresh));
    printf("  over the earlier files median %.4f s\n", median(again));
    printf("  ratio           %.3f (median of paired ratios)\n", median(ratio));
    fflush(stdout);
    printSystemCalls(dir, image, true);
    removeTree(dir);
}

// Writes the sample generator's full set on `disks` disks to `path`, and each disk to a file of
// its own when `diskFiles` is given.
void writeFullSet(const std::string& path, int disks,
                  std::vector<std::string>* diskFiles = nullptr) {
    d88::SampleSet set = d88::fullSampleSet(LAYOUT_A, disks);
    set.disks = disks;
    std::vector<d88::DiskPlan> plans;
    if (!d88::buildSampleDisks(set, plans) || !d88::writeBytes(path, d88::buildImage(plans))) {
        fprintf(stderr, "cannot write the %d-disk set to %s\n", disks, path.c_str());
        exit(1);
    }
    for (size_t disk = 0; diskFiles != nullptr && disk < plans.size(); ++disk) {
        diskFiles->push_back(path + ".disk" + std::to_string(disk));
        if (!d88::writeBytes(diskFiles->back(), d88::buildDisk(plans[disk]))) {
            fprintf(stderr, "cannot write %s\n", diskFiles->back().c_str());
            exit(1);
        }
    }
}

// d88extract on the joined image and on its disk files (given in reverse, so that Disk A is
// put first), run in turn with d88extract-a and the baseline, each round in a rotated order.
void benchmarkCommand(const std::string& work, const std::string& image,
                      const std::vector<std::string>& diskFiles, int repetitions) {
    const std::string dir = work + "/out";
    std::vector<std::string> separate = {D88EXTRACT_PATH, "-d", dir};
    separate.insert(separate.end(), diskFiles.rbegin(), diskFiles.rend());
    const std::vector<std::vector<std::string>> commands = {
        {D88EXTRACT_A_PATH, image}, {D88EXTRACT_PATH, "-d", dir, image}, separate};
    runIn(dir, commands[0]);
    size_t files = 0;
    const std::string manifest = writeManifest(dir, work, files);
    const std::vector<std::string> baseline = {BASELINE_PATH, image, manifest};
    std::vector<double> wall[3], toBaseline[3], toProgram[3], baselineWall;
    for (int i = 0; i < repetitions; ++i) {
        double round[4];
        for (int k = 0; k < 4; ++k) {
            const int which = (i + k) % 4; // 3 is the baseline
            round[which] = runIn(dir, which == 3 ? baseline : commands[which]).wall;
            if (which < 3 && countFiles(dir) != files) {
                fprintf(stderr, "%s wrote %zu files, not %zu\n", commands[which][0].c_str(),
                        countFiles(dir), files);
                exit(1);
            }
        }
        baselineWall.push_back(round[3]);
        for (int which = 0; which < 3; ++which) {
            wall[which].push_back(round[which]);
            toBaseline[which].push_back(round[which] / round[3]);
            toProgram[which].push_back(round[which] / round[0]);
        }
    }
    const char* titles[] = {"d88extract-a", "d88extract, joined image",
                            "d88extract, four disk files"};
    printf("full four-disk set, d88extract (UTF-8 names): %zu files written, %d rounds\n", files,
           repetitions);
    printf("  baseline                     median %.4f s\n", median(baselineWall));
    for (int which = 0; which < 3; ++which) {
        printf("  %-28s median %.4f s, ratio to baseline %.3f, to d88extract-a %.3f\n",
               titles[which], median(wall[which]), median(toBaseline[which]),
               median(toProgram[which]));
    }
    fflush(stdout);
    removeTree(dir);
    remove(manifest.c_str());
}

void runMaker(const std::string& command) {
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "%s failed\n", command.c_str());
        exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    int repetitions = 21;
    bool fullSetOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--repetitions") == 0 && i + 1 < argc) {
            repetitions = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--full-set-only") == 0) {
            fullSetOnly = true;
        } else {
            fprintf(stderr, "usage: extract_bench [--repetitions N] [--full-set-only]\n");
            return 1;
        }
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
    const std::string image = work + "/image.d88";
    std::vector<std::string> diskFiles;
    writeFullSet(image, 4, &diskFiles);
    benchmark(work, "full four-disk set", image, repetitions);
    setenv("LC_ALL", "C.UTF-8", 1); // d88extract writes UTF-8 names
    benchmarkCommand(work, image, diskFiles, repetitions);
    unsetenv("LC_ALL");
    for (const std::string& file : diskFiles) {
        remove(file.c_str());
    }
    benchmarkReextraction(work, "full four-disk set", image, repetitions);
    if (fullSetOnly) {
        removeTree(work);
        return 0;
    }
    writeFullSet(image, 64);
    benchmark(work, "64-disk image", image, repetitions);
    runMaker(std::string("'") + WORST_CASE_IMAGE_PATH + "' '" + image + "' 8388608");
    benchmark(work, "worst case, disk searches (8 MiB)", image, repetitions);
    runMaker(std::string("'") + WORST_CASE_RUNS_PATH + "' '" + image + "' a");
    benchmark(work, "worst case, file runs", image, repetitions);
    removeTree(work);
    return 0;
}
