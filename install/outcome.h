// The exit code that reports how the installation went, for the deployment
// tools that read it ("exitcode.tag"), decided over the steps' results.
#pragma once

#include <stddef.h>

// How one child program fared.
enum ChildState {
    ChildNotRun,        // never tried (no PostProcess.cmd, or nothing to run it from); Code 0
    ChildNotStarted,    // Code is the start error
    ChildStillRunning,  // still running at its time limit
    ChildEnded,         // Code is its exit code
};

struct ChildResult {
    ChildState State;
    unsigned long Code;  // the start error, or the exit code where one was read
    unsigned long Wait;  // the wait's result, once started
};

// What ended the run, for the words of the log's last line.
enum OutcomeKind {
    Installed,            // the installer succeeded, and the script too where one ran
    InstallerFailed,      // the installer's own exit code
    PostProcessFailed,    // PostProcess.cmd's exit code or start error
    InstallerNotStarted,  // its start error
    ProgramStillRunning,  // the installer or the script still ran at its limit
    ExtractionFailed,     // the extractor did not end with 0 or 1: nothing installed
    NoWorkingDirectory,   // none could be made: nothing installed
    OutputHoldsPackage,   // the D directory is or holds the package directory
    SystemRefused,        // the package does not install on this Windows
    RestartRequired,      // installed, and the installer or the script asks for a restart
    UsageShown,           // the H option: nothing installed
};

// An exit code with what it means.
struct Outcome {
    unsigned long Code;  // the exit code with "exitcode.tag"
    OutcomeKind Kind;
};

const unsigned long ExitRefusedSystem = 1633;     // ERROR_INSTALL_PLATFORM_UNSUPPORTED
const unsigned long ExitNoWorkingDirectory = 82;  // ERROR_CANNOT_MAKE
const unsigned long ExitStillRunning = 1460;      // ERROR_TIMEOUT
const unsigned long ExitExtractionFailed = 1603;  // ERROR_INSTALL_FAILURE
const unsigned long ExitUsageShown = 87;          // ERROR_INVALID_PARAMETER

// A started child's state from its wait's result: one that timed out, or
// failed and so never saw the child end, leaves it running.
ChildState StateAfterWait(unsigned long wait);

// Whether the installation goes on after the extractor: 0 when it ended with
// 0, or 1 (a warning; UnZip counts such a run as completed). Otherwise the
// exit code that ends the run: the start error when it could not be started
// (or never was), ExitStillRunning when it still ran at its limit,
// ExitExtractionFailed when it ended with 2 or more.
unsigned long ExtractionExitCode(const ChildResult& extractor);

// The installer's exit code; when that reports success (0, or 3010 and 1641
// for a restart to come or begun) and PostProcess.cmd then failed, the
// script's. When both succeeded, the stronger restart of the two: 1641 over
// 3010 over 0. A start failure gives its error, a child still running
// ExitStillRunning. A child that ended with 259 (STILL_ACTIVE, which an agent
// reads as still running) gives 1603.
Outcome InstallOutcome(const ChildResult& installer, const ChildResult& postProcess);

// The words for an outcome, as in "1603: extraction failed".
const char* OutcomeWords(OutcomeKind kind);

// How a child fared, in words for the log and the boxes: "exit code N",
// "exit code 259, reported as 1603", "still running at the limit of S
// seconds" (limit in milliseconds) or
// "could not be started (error N)". Returns 1 when it fitted in text.
int DescribeChild(const ChildResult& result, unsigned long limit, char* text, size_t size);
