// Starting and waiting for the package's child programs.
#pragma once

#include "install/outcome.h"

// Where the programs lie that carry on an installation, for the runs that
// follow: %SystemRoot%\Temp, the working directory and the temporary
// directory tempPath (nullptr when unknown), kept in short form in forms
// (3 * PathBufferSize bytes, which must outlast the runs); with waitAll every
// process a child starts counts, wherever its program lies.
void SetInstallationLocations(char* forms, const char* workingDirectory, const char* tempPath, int waitAll);

// Each child runs in a job of its own where the system allows it, and its run
// ends when its own process has ended and no process it started (directly or
// not) still carries on the installation, or at its limit.

// Runs the extractor from directory, minimised, waiting up to 6 minutes for
// its run to end, and tells how it fared. At the limit it is ended, with
// everything it started where it ran in a job.
ChildResult RunExtractor(const char* directory, const char* commandLine);

// Runs the installer or post-process script from directory, waiting up to
// 2080000 ms. Returns the wait result (0, or 258 when the time ran out), or
// the error code when the program could not be started.
int RunProgram(const char* directory, const char* commandLine);

// Runs the installer or post-process script as RunProgram does and tells how
// it fared. With wholeProcess, the wait, within the same limit, is for the
// child process itself, not only its primary thread, and its exit code is
// read.
ChildResult RunProgramFor(const char* directory, const char* commandLine, int wholeProcess);
