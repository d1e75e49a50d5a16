// The exit codes setup.exe ends with, each with its meaning and the kind a
// deployment tool should give it: one table for every format pack prints.
#pragma once

#include <stddef.h>

// How a deployment tool should count a code.
enum ExitCodeKind {
    CodeSuccess,     // installed
    CodeSoftReboot,  // installed; a restart finishes it
    CodeHardReboot,  // installed; a restart has begun
    CodeFailure,     // not installed, or the installation failed
};

struct ExitCodeRow {
    unsigned long Code;
    ExitCodeKind Kind;
    const char* Name;     // a few words: "not supported"
    const char* Meaning;  // what happened, in a sentence
};

// Every code setup.exe ends with under "exitcode.tag" that is its own or
// whose kind is known. Any other code is the installer's (or
// PostProcess.cmd's) own exit code or a start error, passed through as it
// is: ExitCodePassedThrough says so.
extern const ExitCodeRow OutcomeExitCodes[];
extern const size_t OutcomeExitCodeCount;
extern const char ExitCodePassedThrough[];

// The codes without "exitcode.tag": 1 once the installation sequence ran,
// 0 after a refusal or the usage box, which a deployment tool cannot tell
// from success.
extern const ExitCodeRow PlainExitCodes[];
extern const size_t PlainExitCodeCount;

// The row for a code, or nullptr when the table has none.
const ExitCodeRow* FindExitCode(const ExitCodeRow* rows, size_t count, unsigned long code);
