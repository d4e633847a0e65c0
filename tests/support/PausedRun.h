// Runs a tested program with the test builds' pause before a new file takes its name (see
// NamePauseForTests.cpp), so that a test can act at that moment.
#pragma once

#include "RunProgram.h"

#include <functional>
#include <string>
#include <sys/types.h>

// Runs `run` with the pause, through the FIFO `fifo` (made here and removed again): each time
// the program stops there, `act` gets its process ID, and the program then goes on (SIGCONT).
RunResult runPaused(const std::string& fifo, const std::function<RunResult()>& run,
                    const std::function<void(pid_t)>& act);
