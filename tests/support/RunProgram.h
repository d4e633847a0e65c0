// Runs a built program as a user would: in a given directory, with its own argument words,
// and captures its exit status, standard output and standard error.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct RunOptions {
    std::string cwd;
    std::string stdoutPath;          // empty: captured; otherwise opened for writing as stdout
    long long fileSizeLimit = -1;    // RLIMIT_FSIZE for the child; SIGXFSZ is left as it is
    bool asUnprivilegedUser = false; // when run by root: the child runs as user 65534
    bool mergeOutput = false;        // standard error goes where standard output goes (2>&1)
    bool terminal = false;           // both go to one pseudo-terminal, read back into `out`
    bool closedPipe = false;         // standard output is a pipe that no one reads (| head -0)
    bool pipeSignalIgnored = false;  // SIGPIPE ignored, as under `trap '' PIPE`; else default
};

struct RunResult {
    int status = -1; // the exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

// `words` is the whole command line as the program sees it, its first word included; it may
// be empty. With the environment variable D88_TEST_LAUNCHER set (for example to "wine"), the
// launcher is run with the program path and the words after the first.
RunResult runProgram(const std::string& program, const std::vector<std::string>& words,
                     const RunOptions& options);

// True when the programs under test are run through a launcher such as wine.
bool usesLauncher();
