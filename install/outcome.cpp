// The outcome of the installation as one exit code.
#include "install/outcome.h"

static int IsSuccess(unsigned long code) {
    return code == 0 || code == 3010 || code == 1641 ? 1 : 0;
}

unsigned long InstallExitCode(const ChildResult& installer, const ChildResult& postProcess) {
    if (installer.State == ChildNotStarted) {
        return installer.Code;
    }
    if (installer.State == ChildStillRunning || postProcess.State == ChildStillRunning) {
        return ExitStillRunning;
    }
    if (installer.State == ChildEnded && IsSuccess(installer.Code) != 0 && postProcess.State != ChildNotRun &&
        postProcess.Code != 0) {
        return postProcess.Code;
    }
    return installer.Code;
}
