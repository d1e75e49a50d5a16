// Fuzzes the working-directory choice and the child programs' command lines over arbitrary directory strings.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/run_state.h"
#include "install/command_lines.h"
#include "tests/fuzz/fuzz_check.h"

static bool HasSpace(const std::string& path) {
    return path.find(' ') != std::string::npos;
}

// A path as one command-line token: in double quotes only when it holds a
// space and is not quoted already.
// Backslashes right before the closing quote are doubled, as the C runtime
// reads them as escapes there.
static std::string Token(const std::string& path) {
    if (!HasSpace(path) || path[0] == '"') {
        return path;
    }
    const size_t last = path.find_last_not_of('\\');
    const size_t trailing = last == std::string::npos ? path.size() : path.size() - 1 - last;
    return "\"" + path + std::string(trailing, '\\') + "\"";
}

// The arguments a child started with commandLine sees, by the rules of the
// C runtime's start-up code (backslashes escape only a double quote).
static std::vector<std::string> SplitArguments(const std::string& commandLine) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (true) {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) {
            ++i;
        }
        if (i >= n) {
            return arguments;
        }
        std::string argument;
        bool inQuote = false;
        while (i < n && (inQuote || (commandLine[i] != ' ' && commandLine[i] != '\t'))) {
            size_t slashes = 0;
            while (i < n && commandLine[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < n && commandLine[i] == '"') {
                argument.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    argument += '"';
                } else if (inQuote && i + 1 < n && commandLine[i + 1] == '"') {
                    argument += '"';
                    ++i;
                } else {
                    inQuote = !inQuote;
                }
                ++i;
            } else {
                argument.append(slashes, '\\');
                if (i < n && (inQuote || (commandLine[i] != ' ' && commandLine[i] != '\t'))) {
                    argument += commandLine[i++];
                }
            }
        }
        arguments.push_back(argument);
    }
}

// After a call over an exact-size buffer: it reports 1 exactly when the whole
// text fits, and then holds exactly that text; either way it stays terminated.
static void CheckComposed(const char* buffer, size_t size, int result, const std::string& whole) {
    CHECK(result == (whole.size() < size ? 1 : 0));
    CHECK(memchr(buffer, '\0', size) != nullptr);
    if (result != 0) {
        CHECK(std::string(buffer) == whole);
    }
}

// A path a child would see whole: none of the characters Windows forbids in
// names that also steer the argument split (double quotes, tabs and other
// control characters).
static bool PlainPath(const std::string& path) {
    for (char c : path) {
        if (c == '"' || (c > 0 && c < ' ')) {
            return false;
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t bufferSize =
        input.ConsumeBool() ? PathBufferSize : input.ConsumeIntegralInRange<size_t>(1, 300);
    const int silent = input.ConsumeBool() ? 1 : 0;
    const int msiTag = input.ConsumeBool() ? 1 : 0;
    const bool tempKnown = input.ConsumeBool();
    const std::string option = CString(input.ConsumeRandomLengthString(300));
    const std::string tempPath = CString(input.ConsumeRandomLengthString(300));
    const std::string source = CString(input.ConsumeRemainingBytesAsString());
    char* buffer = static_cast<char*>(malloc(bufferSize));
    char* second = static_cast<char*>(malloc(bufferSize));

    // The working directory.
    int temporary = -1;
    const int chosen = ChooseDestination(option.c_str(), tempKnown ? tempPath.c_str() : nullptr, buffer,
                                         bufferSize, &temporary);
    CHECK(memchr(buffer, '\0', bufferSize) != nullptr);
    // Double quotes, in which a value with spaces comes, are left out.
    std::string unquoted;
    for (char c : option) {
        if (c != '"') {
            unquoted += c;
        }
    }
    if (unquoted.empty()) {
        CHECK(temporary == 1);
        if (tempKnown) {
            CheckComposed(buffer, bufferSize, chosen, tempPath + "QUILLER");
        } else {
            CHECK(chosen == 0);
        }
    } else {
        CHECK(temporary == 0);
        CheckComposed(buffer, bufferSize, chosen,
                      unquoted.find(':') != std::string::npos ? unquoted : "C:\\" + unquoted);
    }
    const std::string destination = chosen != 0 ? std::string(buffer) : option;

    // The extractor: five tokens, paths quoted only where a space is.
    const std::string extractor =
        Token(source + "\\unzip.exe") + " -o \"" + source + "\\package.zip\" -d " + Token(destination);
    const int extractorFits =
        ComposeExtractorCommand(source.c_str(), destination.c_str(), buffer, bufferSize);
    CheckComposed(buffer, bufferSize, extractorFits, extractor);
    if (PlainPath(source) && PlainPath(destination) && !destination.empty() && !source.empty() &&
        source.back() != '\\') {
        const std::vector<std::string> expected = {source + "\\unzip.exe", "-o", source + "\\package.zip",
                                                   "-d", destination};
        CHECK(SplitArguments(extractor) == expected);
    }

    // The installer, interactive or with one of the two unattended switch sets.
    const std::string installer =
        Token(destination + "\\SETUP.EXE") + (silent == 0   ? ""
                                              : msiTag != 0 ? " /qn REBOOT=ReallySuppress"
                                                            : " -s -SMS");
    CheckComposed(buffer, bufferSize,
                  ComposeInstallerCommand(destination.c_str(), silent, msiTag, buffer, bufferSize),
                  installer);

    // The post-process script: its path for the existence test, and its
    // command line; both must fit for either to be used.
    const std::string script = destination + "\\PostProcess.cmd";
    const int scriptFits = ComposePostProcess(destination.c_str(), buffer, bufferSize, second, bufferSize);
    CHECK(scriptFits == (script.size() < bufferSize && Token(script).size() < bufferSize ? 1 : 0));
    CHECK(memchr(buffer, '\0', bufferSize) != nullptr && memchr(second, '\0', bufferSize) != nullptr);
    if (scriptFits != 0) {
        CHECK(std::string(buffer) == script && std::string(second) == Token(script));
    }
    free(second);
    free(buffer);
    return 0;
}
