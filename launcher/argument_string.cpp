// Splitting the program name off the process command line.
#include "launcher/argument_string.h"

const char* SkipProgramName(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        // Any control character ends the name, as it does for the C runtime.
        while (static_cast<unsigned char>(*p) > ' ') {
            ++p;
        }
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') {
        ++p;
    }
    return p;
}
