// Fuzzes the bounded copy, append and format helpers against std::string over buffers of every size.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/text.h"
#include "tests/fuzz/fuzz_check.h"

// After a call over an exact-size buffer: the result says whether the whole
// text fitted, and the buffer holds the text, or as much as fits, terminated.
static void CheckResult(const char* buffer, size_t size, int result, const std::string& whole) {
    const bool fits = whole.size() < size;
    CHECK(result == (fits ? 1 : 0));
    if (size == 0) {
        return;
    }
    CHECK(memchr(buffer, '\0', size) != nullptr);
    CHECK(std::string(buffer) == whole.substr(0, size - 1));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t bufferSize = input.ConsumeIntegralInRange<size_t>(0, 300);
    const int number = input.ConsumeIntegral<int>();
    const std::string first = CString(input.ConsumeRandomLengthString(400));
    const std::string second = CString(input.ConsumeRemainingBytesAsString());
    char* buffer = static_cast<char*>(malloc(bufferSize + 1));

    CheckResult(buffer, bufferSize, CopyText(buffer, bufferSize, first.c_str()), first);

    if (bufferSize > 0) {
        // Append to what the copy left: the whole text is the first string, as
        // far as it fitted, followed by the second.
        const std::string start(buffer);
        CheckResult(buffer, bufferSize, AppendText(buffer, bufferSize, second.c_str()), start + second);
    }

    CheckResult(buffer, bufferSize, FormatText(buffer, bufferSize, "%s\\%s", first.c_str(), second.c_str()),
                first + "\\" + second);
    CheckResult(buffer, bufferSize,
                FormatText(buffer, bufferSize, "Current: %s\nRun: %s", first.c_str(), second.c_str()),
                "Current: " + first + "\nRun: " + second);
    CheckResult(buffer, bufferSize,
                FormatText(buffer, bufferSize, "%d|%i|%c|%%", number, number, first.empty() ? 'x' : first[0]),
                std::to_string(number) + "|" + std::to_string(number) + "|" +
                    (first.empty() ? 'x' : first[0]) + "|%");
    free(buffer);
    return 0;
}
