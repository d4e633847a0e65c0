// The tests' copies of the programs: with D88_TEST_BEFORE_NAME naming a FIFO, the program
// writes its process ID there before a new file takes its name and stops itself (SIGSTOP), so
// that a test can act in between (send a signal, put something under the name) and then let it
// go on with SIGCONT.
#include "NamePause.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

void hostPauseBeforeName() {
    const char* fifo = getenv("D88_TEST_BEFORE_NAME");
    if (fifo == nullptr || *fifo == '\0') {
        return;
    }
    const int out = open(fifo, O_WRONLY | O_CLOEXEC);
    if (out >= 0) {
        dprintf(out, "%ld\n", static_cast<long>(getpid()));
        close(out);
        raise(SIGSTOP);
    }
}
