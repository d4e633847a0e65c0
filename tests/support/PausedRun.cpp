#include "PausedRun.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Waits until process `pid` is stopped.
void waitUntilStopped(pid_t pid) {
    for (int tries = 0; tries < 5000; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() &&
            (line[close + 2] == 'T' || line[close + 2] == 't')) {
            return;
        }
        usleep(1000);
    }
    ADD_FAILURE() << "process " << pid << " did not stop";
}

} // namespace

RunResult runPaused(const std::string& fifo, const std::function<RunResult()>& run,
                    const std::function<void(pid_t)>& act) {
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int in = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    setenv("D88_TEST_BEFORE_NAME", fifo.c_str(), 1);
    std::atomic<bool> done{false};
    RunResult result;
    std::thread program([&] {
        result = run();
        done = true;
    });
    std::string line;
    while (!done) {
        pollfd ready{in, POLLIN, 0};
        char chunk[32];
        const ssize_t got = poll(&ready, 1, 20) > 0 ? read(in, chunk, sizeof chunk) : 0;
        if (got <= 0) {
            usleep(1000); // nothing yet, or no writer since the last one closed
            continue;
        }
        line.append(chunk, static_cast<size_t>(got));
        const size_t end = line.find('\n');
        if (end == std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(line.substr(0, end)));
        line.erase(0, end + 1);
        waitUntilStopped(pid);
        act(pid);
        kill(pid, SIGCONT);
    }
    program.join();
    unsetenv("D88_TEST_BEFORE_NAME");
    close(in);
    unlink(fifo.c_str());
    return result;
}
