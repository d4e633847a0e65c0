// A seam for the tests: the POSIX host calls this just before a new file takes its name. The
// programs link NoNamePause.cpp, which does nothing; the tests build copies of the programs
// that link a pause of their own (tests/support/NamePauseForTests.cpp), so that nothing that is
// installed or packaged carries it.
#pragma once

void hostPauseBeforeName();
