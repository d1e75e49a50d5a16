// Child processes of the packaging tool: the archiver, the extractor and
// the signer, each started directly (no shell reads its command line).
#pragma once

#include <string>
#include <vector>

struct ChildRun {
    std::string Directory;  // where it starts; "" where this program is
    std::string Program;    // a path, or on Linux a name looked up in PATH
    std::vector<std::string> Args;
    const std::string* Input = nullptr;  // fed to its standard input; else it shares this program's
    std::string* Output = nullptr;       // collects its standard output; else it shares this program's
    bool ErrorsToOutput = false;         // with Output: its standard error is collected there too
    // With Output: the child's text as UTF-8 (on Windows converted from the
    // OEM code page a console program prints in; on Linux the child runs
    // in the C.UTF-8 locale).
    bool TextOutput = false;
    int TimeoutSeconds = 0;  // on Linux, when not 0: the child is killed once it runs this long
};

// RunChild's result for a child killed at its timeout.
const int ChildTimedOut = -2;

// Runs the child to its end. Program and args reach it as given on Linux;
// on Windows each is quoted for the C runtime and they reach it in the ANSI
// code page, so a caller passes only text that code page spells (see
// AnsiSpelling). Returns its exit status; -1 when it could not be started,
// or when it ended with status 0 before reading all of its input;
// ChildTimedOut when it was killed at its timeout.
int RunChild(const ChildRun& run);
