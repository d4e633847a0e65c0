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

void printVersion(const char* program) {
    printf("%s %s\n", program, D88_VERSION);
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
