// Benchmark of putting files back: d88update on the full four-disk set with every one of its 164
// files changed (each byte XORed with 0x5a), against a baseline that reads the image once, reads
// the 164 files once and writes the image once. Runs the two in alternation (the first of each
// pair alternating too), each into a new output file, and prints their median wall times, the
// medians of the paired wall-time and CPU-time ratios and d88update's peak resident memory,
// plain and with --json.
#include "SampleDiskSet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

struct Times {
    double wall;
    double cpu; // user + system
};

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs `words` in folder `dir` with standard output and standard error discarded; exits when
// it fails.
Times run(const std::string& dir, const std::vector<std::string>& words) {
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (std::string& word : copy) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
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

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

// XORs every byte of every file in `dir` with 0x5a and writes their manifest ("SIZE NAME"
// lines) to `manifest`. Returns the number of files.
size_t changeEveryFile(const std::string& dir, const std::string& manifest) {
    DIR* listing = opendir(dir.c_str());
    FILE* out = fopen(manifest.c_str(), "w");
    size_t count = 0;
    while (listing != nullptr && out != nullptr) {
        const dirent* found = readdir(listing);
        if (found == nullptr) {
            break;
        }
        if (found->d_name[0] == '.') {
            continue;
        }
        const std::string path = dir + "/" + found->d_name;
        FILE* file = fopen(path.c_str(), "r+b");
        std::vector<unsigned char> bytes(300000);
        const size_t size = file != nullptr ? fread(bytes.data(), 1, bytes.size(), file) : 0;
        for (size_t i = 0; i < size; ++i) {
            bytes[i] ^= 0x5a;
        }
        if (file == nullptr || fseek(file, 0, SEEK_SET) != 0 ||
            fwrite(bytes.data(), 1, size, file) != size || fclose(file) != 0) {
            fprintf(stderr, "cannot change %s\n", path.c_str());
            exit(1);
        }
        fprintf(out, "%zu %s\n", size, found->d_name);
        ++count;
    }
    if (listing != nullptr) {
        closedir(listing);
    }
    if (out == nullptr || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", manifest.c_str());
        exit(1);
    }
    return count;
}

// The peak resident memory of one d88update run in KiB, through GNU time; -1 when it is missing.
long peakResidentKiB(const std::string& work, const std::string& options) {
    remove((work + "/new.d88").c_str());
    const std::string command = "cd '" + work + "' && /usr/bin/time -f %M '" + D88UPDATE_PATH +
                                "' " + options + " -o new.d88 --from dir image.d88 2>&1 " +
                                ">/dev/null | tail -n 1";
    long kib = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (fscanf(pipe, "%ld", &kib) != 1) {
            kib = -1;
        }
        pclose(pipe);
    }
    return kib;
}

} // namespace

int main(int argc, char** argv) {
    int repetitions = 31;
    if (argc == 3 && strcmp(argv[1], "--repetitions") == 0) {
        repetitions = std::max(1, atoi(argv[2]));
    } else if (argc != 1) {
        fprintf(stderr, "usage: update_bench [--repetitions N]\n");
        return 1;
    }
    const char* base = getenv("TMPDIR");
    std::string work =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88update-bench.XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        return 1;
    }
    const std::string image = work + "/image.d88";
    const std::string dir = work + "/dir";
    const std::string out = work + "/new.d88";
    std::vector<d88::DiskPlan> plans;
    if (!d88::buildSampleDisks(d88::fullSampleSet(LAYOUT_A, 4), plans) ||
        !d88::writeBytes(image, d88::buildImage(plans))) {
        fprintf(stderr, "cannot write the full set to %s\n", image.c_str());
        return 1;
    }
    run(work, {D88EXTRACT_PATH, "-q", "-d", dir, image});
    const size_t files = changeEveryFile(dir, work + "/manifest");
    const std::vector<std::string> update = {D88UPDATE_PATH, "-q", "-o", out, "--from", dir, image};
    const std::vector<std::string> baseline = {UPDATE_BASELINE_PATH, image, work + "/manifest",
                                               out};
    // Warms the page cache.
    run(work, update);
    remove(out.c_str());
    run(dir, baseline);
    std::vector<double> updates, baselines, ratios, cpuRatios;
    for (int i = 0; i < repetitions; ++i) {
        Times times[2];
        for (int k = 0; k < 2; ++k) {
            const int which = (i + k) % 2; // 0: d88update, 1: the baseline
            remove(out.c_str());
            times[which] = which == 0 ? run(work, update) : run(dir, baseline);
        }
        updates.push_back(times[0].wall);
        baselines.push_back(times[1].wall);
        ratios.push_back(times[0].wall / times[1].wall);
        cpuRatios.push_back(times[0].cpu / std::max(times[1].cpu, 1e-6));
    }
    struct stat info;
    const long long imageBytes = stat(image.c_str(), &info) == 0 ? info.st_size : -1;
    printf("full four-disk set, %zu files changed: image %lld bytes, %d paired runs\n", files,
           imageBytes, repetitions);
    printf("  d88update       median %.4f s\n", median(updates));
    printf("  baseline        median %.4f s\n", median(baselines));
    printf("  ratio           %.3f (median of paired ratios)\n", median(ratios));
    printf("  cpu time ratio  %.3f (median of paired ratios)\n", median(cpuRatios));
    printf("  peak resident memory %ld KiB, with --json %ld KiB\n", peakResidentKiB(work, "-q"),
           peakResidentKiB(work, "--json"));
    nftw(work.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
