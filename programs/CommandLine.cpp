#include "CommandLine.h"

#include "Host.h"
#include "ShownName.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#ifndef D88_VERSION
#define D88_VERSION "unknown"
#endif

namespace {

// getopt_long's value for option `index`: its letter, or a number beyond every character.
int optionValueOf(const OptionDefinition& definition, size_t index) {
    return definition.letter != 0 ? static_cast<unsigned char>(definition.letter)
                                  : 256 + static_cast<int>(index);
}

int definitionOf(const OptionReader& reader, int value) {
    for (size_t i = 0; i < reader.definitions.size(); ++i) {
        if (optionValueOf(reader.definitions[i], i) == value) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The word that getopt_long could not take: "--name" without its value.
std::string failedLongWord(int argc, char** argv) {
    const int at = optind - 1;
    std::string word = at > 0 && at < argc ? argv[at] : "--";
    const size_t equals = word.find('=');
    return equals == std::string::npos ? word : word.substr(0, equals);
}

// "unknown option '--x'", or the long names that an abbreviation could stand for.
int unknownLongOption(const OptionReader& reader, const std::string& word) {
    std::string matches;
    for (const OptionDefinition& definition : reader.definitions) {
        if (word.size() > 2 && strncmp(definition.name, word.c_str() + 2, word.size() - 2) == 0) {
            matches += std::string(matches.empty() ? "" : ", ") + "--" + definition.name;
        }
    }
    if (matches.find(',') != std::string::npos) {
        return commandLineError(reader.program, "option %s is ambiguous: %s",
                                quotedPath(word.c_str(), stderr).c_str(), matches.c_str());
    }
    return commandLineError(reader.program, "unknown option %s",
                            quotedPath(word.c_str(), stderr).c_str());
}

} // namespace

OptionReader optionReader(const char* program, std::vector<OptionDefinition> definitions) {
    const size_t count = definitions.size();
    return OptionReader{program, std::move(definitions), std::vector<int>(count, 0)};
}

int nextOption(OptionReader& reader, int argc, char** argv, const char*& value) {
    std::vector<option> longOptions;
    std::string shortOptions = ":"; // a missing value is told apart from an unknown option
    for (size_t i = 0; i < reader.definitions.size(); ++i) {
        const OptionDefinition& definition = reader.definitions[i];
        const int hasValue = definition.needs != nullptr ? required_argument : no_argument;
        longOptions.push_back(
            option{definition.name, hasValue, nullptr, optionValueOf(definition, i)});
        if (definition.letter != 0) {
            shortOptions += definition.letter;
            shortOptions += definition.needs != nullptr ? ":" : "";
        }
    }
    longOptions.push_back(option{nullptr, 0, nullptr, 0});
    opterr = 0; // the messages are ours
    const int got = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
    if (got == -1) {
        return OPTIONS_END;
    }
    value = optarg;
    const char* program = reader.program;
    if (got == '?' || got == ':') {
        // C libraries differ in which of the two they return for a long option that takes no
        // value and got one, so the option found says what went wrong.
        const int index = optopt != 0 ? definitionOf(reader, optopt) : -1;
        if (index < 0 && optopt != 0) {
            const char word[3] = {'-', static_cast<char>(optopt), '\0'};
            commandLineError(program, "unknown option %s", quotedPath(word, stderr).c_str());
            return OPTIONS_FAILED;
        }
        if (index < 0) {
            unknownLongOption(reader, failedLongWord(argc, argv));
            return OPTIONS_FAILED;
        }
        const OptionDefinition& definition = reader.definitions[static_cast<size_t>(index)];
        if (definition.needs != nullptr) {
            commandLineError(program, "--%s needs %s", definition.name, definition.needs);
            return OPTIONS_FAILED;
        }
        commandLineError(program, "--%s takes no value", definition.name);
        return OPTIONS_FAILED;
    }
    const int index = definitionOf(reader, got);
    if (index < 0) {
        commandLineError(program, "unknown option");
        return OPTIONS_FAILED;
    }
    const OptionDefinition& definition = reader.definitions[static_cast<size_t>(index)];
    if (++reader.given[static_cast<size_t>(index)] > 1 && definition.needs != nullptr &&
        !definition.repeatable) {
        commandLineError(program, "--%s given twice", definition.name);
        return OPTIONS_FAILED;
    }
    return index;
}

std::vector<const char*> operandsAfterOptions(int argc, char** argv) {
    std::vector<const char*> words;
    for (int i = optind; i < argc; ++i) {
        words.push_back(argv[i]);
    }
    return words;
}

int commandLineError(const char* program, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        vsnprintf(&text[0], text.size() + 1, format, again);
    }
    va_end(again);
    va_end(arguments);
    hostPrintfLocal(stderr, "%s: %s\nTry '%s --help' for more information.\n", program,
                    text.c_str(), program);
    return STATUS_USAGE;
}

int badOptionValue(const OptionReader& reader, int option, const char* value) {
    const OptionDefinition& definition = reader.definitions[static_cast<size_t>(option)];
    return commandLineError(reader.program, "--%s needs %s, got %s", definition.name,
                            definition.needs, quotedPath(value, stderr).c_str());
}

int printVersion(const char* program) {
    printf("%s %s\n", program, D88_VERSION);
    return finishOutput(program, 0);
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

bool parseNameChoice(const char* word, NameChoice& choice) {
    if (strcmp(word, "utf-8") == 0) {
        choice = NameChoice::Utf8;
    } else if (strcmp(word, "shift_jis") == 0) {
        choice = NameChoice::ShiftJis;
    } else {
        return false;
    }
    return true;
}

NameTarget nameTargetFor(NameChoice choice) {
    switch (choice) {
    case NameChoice::Utf8:
        return hostNamesAreUnicode() ? NameTarget::Host : NameTarget::Utf8;
    case NameChoice::ShiftJis:
        return NameTarget::Host;
    case NameChoice::Default:
        break;
    }
    return hostTerminalIsUtf8() && !hostNamesAreUnicode() ? NameTarget::Utf8 : NameTarget::Host;
}

std::string quotedPath(const char* path, FILE* stream) {
    return "'" + shownPath(path, stream) + "'";
}

int finishOutput(const char* program, int status) {
    errno = 0;
    if (fflush(stdout) == 0 && !ferror(stdout)) {
        return status;
    }
    const bool readerLeft = hostReaderLeft(stdout, errno);
    const int error = readerLeft ? EPIPE : errno;
    if (readerLeft && hostClosedPipeEndsQuietly()) {
        if (status == 0) {
            hostEndByClosedPipe();
        }
        return status; // what else went wrong was said
    }
    if (error != 0) {
        fprintf(stderr, "%s: cannot write standard output: %s\n", program, strerror(error));
    } else {
        fprintf(stderr, "%s: cannot write standard output\n", program);
    }
    return 1;
}
