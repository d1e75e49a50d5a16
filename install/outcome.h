// The exit code that reports how the installation went, for the deployment
// tools that read it ("exitcode.tag"), decided over the steps' results.
#pragma once

// How one child program fared.
enum ChildState {
    ChildNotRun,       // never tried (no PostProcess.cmd, or nothing to run it from)
    ChildNotStarted,   // Code is the start error
    ChildStillRunning, // still running at its time limit
    ChildEnded,        // Code is its exit code
};

struct ChildResult {
    ChildState State;
    unsigned long Code;  // the start error, or the exit code where one was read
    unsigned long Wait;  // the wait's result, once started
};

const unsigned long ExitRefusedSystem = 1633;     // ERROR_INSTALL_PLATFORM_UNSUPPORTED
const unsigned long ExitNoWorkingDirectory = 82;  // ERROR_CANNOT_MAKE
const unsigned long ExitStillRunning = 1460;      // ERROR_TIMEOUT

// The installer's exit code; when that reports success (0, or 3010 and 1641
// for a restart to come) and PostProcess.cmd then failed, the script's. A
// start failure gives its error, a child still running ExitStillRunning.
unsigned long InstallExitCode(const ChildResult& installer, const ChildResult& postProcess);
