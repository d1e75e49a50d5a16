// Splitting the program name off the process command line.
#include "common/argument_string.h"

// A code unit as a number: ANSI bytes above 127 count as printable, like the
// wide units they stand for.
static unsigned Unit(char c) {
    return static_cast<unsigned char>(c);
}

static unsigned Unit(WideChar c) {
    return c;
}

template <typename Char>
static const Char* SkipName(const Char* commandLine) {
    const Char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != 0 && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        // Any control character ends the name, as it does for the C runtime.
        while (Unit(*p) > ' ') {
            ++p;
        }
    }
    while (*p != 0 && Unit(*p) <= ' ') {
        ++p;
    }
    return p;
}

const char* SkipProgramName(const char* commandLine) {
    return SkipName(commandLine);
}

const WideChar* SkipProgramName(const WideChar* commandLine) {
    return SkipName(commandLine);
}
