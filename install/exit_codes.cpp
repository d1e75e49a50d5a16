// The exit codes setup.exe ends with, as deployment tools should read them.
#include "install/exit_codes.h"

#include "install/outcome.h"

const ExitCodeRow OutcomeExitCodes[] = {
    {0, CodeSuccess, "installed", "SETUP.EXE succeeded, and PostProcess.cmd too when one ran"},
    {3010, CodeSoftReboot, "installed, restart required",
     "SETUP.EXE succeeded, and it or PostProcess.cmd asks for a restart to finish"},
    {1641, CodeHardReboot, "installed, restart begun",
     "SETUP.EXE succeeded, and it or PostProcess.cmd has begun a restart"},
    {ExitRefusedSystem, CodeFailure, "not supported",
     "the package does not install on this Windows version; nothing installed"},
    {ExitNoWorkingDirectory, CodeFailure, "no working directory",
     "no working directory could be made, or the -d directory is the package directory or holds it; "
     "nothing installed"},
    {ExitStillRunning, CodeFailure, "still running",
     "unzip.exe, SETUP.EXE (or a process it started that carries on the installation) or "
     "PostProcess.cmd was still running at its time limit"},
    {ExitExtractionFailed, CodeFailure, "extraction failed",
     "unzip.exe ended with 2 or more (a damaged archive, a name the code page cannot spell, a full "
     "disk): nothing installed; or SETUP.EXE's own 1603, Windows Installer's fatal error, or its 259 "
     "(STILL_ACTIVE, which an agent would read as still running); or the same from PostProcess.cmd "
     "after a successful SETUP.EXE"},
    {206, CodeFailure, "path too long",
     "the command line of unzip.exe or SETUP.EXE did not fit (ERROR_FILENAME_EXCED_RANGE); not started"},
    {87, CodeFailure, "usage", "the usage box (-h) was shown (ERROR_INVALID_PARAMETER); nothing installed"},
};
const size_t OutcomeExitCodeCount = sizeof OutcomeExitCodes / sizeof OutcomeExitCodes[0];

const char ExitCodePassedThrough[] =
    "the exit code of SETUP.EXE (or of PostProcess.cmd after a successful SETUP.EXE) as it is, or the "
    "start error of one that could not be started (2: the file is missing); what it means is the "
    "installer's to say";

const ExitCodeRow PlainExitCodes[] = {
    {1, CodeSuccess, "installation ran",
     "the installation sequence ran, whatever SETUP.EXE did, or stopped for want of a working "
     "directory or an extracted archive: only the log tells"},
    {0, CodeFailure, "refused or usage box",
     "the package does not install on this Windows version, or the usage box was shown; nothing "
     "installed, and a deployment tool reads 0 as success"},
};
const size_t PlainExitCodeCount = sizeof PlainExitCodes / sizeof PlainExitCodes[0];

const ExitCodeRow* FindExitCode(const ExitCodeRow* rows, size_t count, unsigned long code) {
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].Code == code) {
            return &rows[i];
        }
    }
    return nullptr;
}
