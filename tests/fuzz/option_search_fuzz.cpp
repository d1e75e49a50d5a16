// Fuzzes the option search over arbitrary argument strings against a plain model of its contract.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/run_state.h"
#include "common/text.h"
#include "launcher/option_search.h"
#include "tests/fuzz/fuzz_check.h"

// The contract, spelled out with std::string: the first of "-X", "-x", "/X",
// "/x" found anywhere wins at its first occurrence; the value runs from right
// after the letter to the first space outside double quotes.
static bool ModelFind(const std::string& commandLine, char letter, std::string* value, bool* runsToEnd) {
    const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 32) : letter;
    const char lower = letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter + 32) : letter;
    const std::string patterns[4] = {std::string("-") + upper, std::string("-") + lower,
                                     std::string("/") + upper, std::string("/") + lower};
    for (const std::string& pattern : patterns) {
        size_t at = commandLine.find(pattern);
        if (at == std::string::npos) {
            continue;
        }
        bool inQuote = false;
        size_t end = at + 2;
        for (; end < commandLine.size(); ++end) {
            if (commandLine[end] == '"') {
                inQuote = !inQuote;
            } else if (commandLine[end] == ' ' && !inQuote) {
                break;
            }
        }
        *value = commandLine.substr(at + 2, end - (at + 2));
        *runsToEnd = end == commandLine.size();
        return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the letter; the program asks for H, S and D, but
    // the search must hold for any letter.
    static const char letters[] = "HSDhsdAZaz";
    const char letter = data[0] < 200 ? letters[data[0] % 10] : static_cast<char>('A' + data[0] % 26);

    // The argument string as the entry point receives it (it ends at the first
    // zero), copied into the command-line copy as the entry flow does it.
    const std::string arguments(reinterpret_cast<const char*>(data + 1),
                                strnlen(reinterpret_cast<const char*>(data + 1), size - 1));
    char commandLine[PathBufferSize];
    memset(commandLine, 0, sizeof commandLine);
    const int complete = CopyText(commandLine, arguments.c_str());
    CHECK(complete == (arguments.size() < PathBufferSize ? 1 : 0));
    const std::string copied(commandLine);
    CHECK(copied == arguments.substr(0, PathBufferSize - 1));

    // The search also sees an exact-size copy, so a read past the terminator
    // is caught rather than landing in the zero padding.
    char* exact = static_cast<char*>(malloc(copied.size() + 1));
    memcpy(exact, copied.c_str(), copied.size() + 1);

    std::string expected;
    bool runsToEnd = false;
    const bool present = ModelFind(copied, letter, &expected, &runsToEnd);

    CHECK(FindOption(commandLine, letter, nullptr) == (present ? 1 : 0));
    CHECK(FindOption(exact, letter, nullptr) == (present ? 1 : 0));

    // The value buffer is exactly PathBufferSize bytes and zero-filled, as the
    // entry flow gives it.
    char* value = static_cast<char*>(calloc(PathBufferSize, 1));
    CHECK(FindOption(exact, letter, value) == (present ? 1 : 0));
    CHECK(memchr(value, '\0', PathBufferSize) != nullptr);
    if (present) {
        CHECK(std::string(value) == expected);
        CHECK(expected.size() < PathBufferSize);
    } else {
        CHECK(value[0] == '\0');
    }
    CHECK(OptionValueRunsToEnd(exact, letter) == (present && runsToEnd ? 1 : 0));

    // The wide copy, each byte as one code unit, follows the same rules.
    WideChar* wide = static_cast<WideChar*>(calloc(copied.size() + 1, sizeof(WideChar)));
    WideChar* wideValue = static_cast<WideChar*>(calloc(PathBufferSize, sizeof(WideChar)));
    for (size_t i = 0; i < copied.size(); ++i) {
        wide[i] = static_cast<unsigned char>(copied[i]);
    }
    CHECK(FindOption(wide, letter, wideValue) == (present ? 1 : 0));
    for (size_t i = 0; i < PathBufferSize; ++i) {
        CHECK(wideValue[i] == static_cast<unsigned char>(value[i]));
    }
    CHECK(OptionValueRunsToEnd(wide, letter) == (present && runsToEnd ? 1 : 0));
    free(wideValue);
    free(wide);
    free(value);

    // A caller with a longer command line still gets a value cut within the buffer.
    bool longRunsToEnd = false;
    std::string longExpected;
    const bool longPresent = ModelFind(arguments, letter, &longExpected, &longRunsToEnd);
    value = static_cast<char*>(calloc(PathBufferSize, 1));
    CHECK(FindOption(arguments.c_str(), letter, value) == (longPresent ? 1 : 0));
    if (longPresent) {
        CHECK(std::string(value) == longExpected.substr(0, PathBufferSize - 1));
    }
    free(value);
    free(exact);
    return 0;
}
