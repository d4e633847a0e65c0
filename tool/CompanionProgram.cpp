#include "CompanionProgram.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef D88_VERSION
#define D88_VERSION "unknown"
#endif

int commandLineError(const char* program, const char* format, ...) {
    fprintf(stderr, "%s: ", program);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stderr, format, arguments);
    va_end(arguments);
    fprintf(stderr, "\nTry '%s --help' for more information.\n", program);
    return 1;
}

bool answeredHelpOrVersion(const char* program, const char* word, void (*printHelp)(),
                           int& status) {
    if (strcmp(word, "--help") == 0) {
        printHelp();
    } else if (strcmp(word, "--version") == 0) {
        printf("%s %s\n", program, D88_VERSION);
    } else {
        return false;
    }
    status = finishOutput(program, 0);
    return true;
}

const DirectoryLayout* layoutByLetter(const char* letter) {
    if (strcmp(letter, "a") == 0) {
        return &LAYOUT_A;
    }
    return strcmp(letter, "b") == 0 ? &LAYOUT_B : nullptr;
}

bool parseNumber(const char* text, long min, long max, long& value) {
    if (text[0] < '0' || text[0] > '9') {
        return false; // no sign, no leading space
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = strtol(text, &end, 10);
    if (*end != '\0' || errno != 0 || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

int finishOutput(const char* program, int status) {
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        const int error = errno;
        if (error != 0) {
            fprintf(stderr, "%s: cannot write standard output: %s\n", program, strerror(error));
        } else {
            fprintf(stderr, "%s: cannot write standard output\n", program);
        }
        return 1;
    }
    return status;
}
