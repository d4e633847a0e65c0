#include "RunProgram.h"

#include "TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string readAll(const std::string& path) {
    const std::vector<uint8_t> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

const char* launcher() {
    const char* value = getenv("D88_TEST_LAUNCHER");
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

bool usesLauncher() {
    return launcher() != nullptr;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& words,
                     const RunOptions& options) {
    TempDir capture;
    const std::string outPath =
        options.stdoutPath.empty() ? capture.file("stdout") : options.stdoutPath;
    const std::string errPath = capture.file("stderr");

    std::vector<std::string> command;
    std::string path = program;
    if (launcher() != nullptr) {
        path = launcher();
        command = {path, program};
        command.insert(command.end(), words.begin() + (words.empty() ? 0 : 1), words.end());
    } else {
        command = words;
    }
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int terminal = -1; // the pseudo-terminal's controlling side
    int screen = -1;   // the side that the program writes to
    if (options.terminal && openpty(&terminal, &screen, nullptr, nullptr, nullptr) != 0) {
        return RunResult{};
    }
    const pid_t child = fork();
    if (child == 0) {
        int out = -1;
        int err = -1;
        if (options.terminal) {
            close(terminal);
            setsid(); // the terminal becomes the program's own, as in a shell
            out = err = screen;
        } else if (options.closedPipe) {
            int ends[2];
            out = pipe(ends) == 0 && close(ends[0]) == 0 ? ends[1] : -1;
            err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            signal(SIGPIPE, options.pipeSignalIgnored ? SIG_IGN : SIG_DFL); // as a shell leaves it
        } else {
            out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            err = options.mergeOutput ? out
                                      : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(options.cwd.c_str()) != 0) {
            _exit(125);
        }
        if (options.fileSizeLimit >= 0) {
            if (launcher() != nullptr) {
                // A Windows program knows no SIGXFSZ; the launcher's own host process would
                // get it. The Linux programs are run with the signal as it is.
                signal(SIGXFSZ, SIG_IGN);
            }
            const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                               static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.asUnprivilegedUser && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(125);
        }
        if (launcher() != nullptr) {
            execvp(path.c_str(), argv.data());
        } else {
            execve(path.c_str(), argv.data(), environ);
        }
        _exit(126);
    }
    RunResult result;
    if (child < 0) {
        return result;
    }
    int status = 0;
    bool ended = false;
    if (options.terminal) {
        close(screen);
        // Read until the program has ended and nothing more is waiting: a helper process that
        // it started (such as wine's server) may hold the terminal open for longer.
        char chunk[4096];
        for (;;) {
            pollfd ready{terminal, POLLIN, 0};
            const int events = poll(&ready, 1, 100);
            if (events > 0) {
                const ssize_t got = read(terminal, chunk, sizeof chunk);
                if (got > 0) {
                    result.out.append(chunk, static_cast<size_t>(got));
                    continue;
                }
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                break; // closed by every writer (EIO on Linux)
            }
            if (events < 0 && errno == EINTR) {
                continue;
            }
            if (ended) {
                break;
            }
            ended = waitpid(child, &status, WNOHANG) == child;
        }
        close(terminal);
    }
    if (!ended && waitpid(child, &status, 0) != child) {
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!options.terminal) {
        result.out =
            options.stdoutPath.empty() && !options.closedPipe ? readAll(outPath) : std::string();
        result.err = options.mergeOutput ? std::string() : readAll(errPath);
    }
    return result;
}
