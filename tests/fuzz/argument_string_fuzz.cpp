// Fuzzes the split of the process command line into program name and argument string against a plain model.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/argument_string.h"
#include "tests/fuzz/fuzz_check.h"

// The program name is one token, in double quotes (to the closing one or the
// end) or up to the first blank or control character; the blanks and
// control characters after it are skipped too.
static size_t ModelArgumentsStart(const std::string& commandLine) {
    size_t i = 0;
    const size_t n = commandLine.size();
    if (n > 0 && commandLine[0] == '"') {
        size_t close = commandLine.find('"', 1);
        i = close == std::string::npos ? n : close + 1;
    } else {
        while (i<n&& static_cast<unsigned char>(commandLine[i])> ' ') {
            ++i;
        }
    }
    while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ') {
        ++i;
    }
    return i;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The command line as the process gets it: up to its first zero, in an
    // exact-size copy so that a read past the terminator is caught.
    const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    char* commandLine = static_cast<char*>(malloc(length + 1));
    memcpy(commandLine, data, length);
    commandLine[length] = '\0';

    const char* arguments = SkipProgramName(commandLine);
    CHECK(arguments >= commandLine && arguments <= commandLine + length);
    CHECK(static_cast<size_t>(arguments - commandLine) ==
          ModelArgumentsStart(std::string(commandLine, length)));

    // The wide command line, each byte as one code unit, splits at the same place.
    WideChar* wide = static_cast<WideChar*>(malloc((length + 1) * sizeof(WideChar)));
    for (size_t i = 0; i <= length; ++i) {
        wide[i] = static_cast<unsigned char>(commandLine[i]);
    }
    CHECK(SkipProgramName(wide) - wide == arguments - commandLine);
    free(wide);
    free(commandLine);
    return 0;
}
